#include "installer/file_tables.h"

const wchar_t* const kExecutables[] = {
    L"vlx.exe",     L"vlxwin.exe", L"vlxcomp.exe", L"lintvet.exe",
    L"sigscan.exe", L"vlxrun.exe", L"testdrv.exe", nullptr,
};

const wchar_t* const kBootFiles[] = {
    L"start_minimal.boot",  // the minimal start-up
    L"start_tavrel.boot",   // the standard start-up with the tavrel component
    L"no_dot_vorlax.boot",
    nullptr,
};
