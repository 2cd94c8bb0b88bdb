# Documentation installed beside the tool, and the release archives:
# vlxinstall-<version>-windows-x86_64.zip and vlxinstall-<version>-linux-x86_64.tar.gz.

# Windows archives keep the documents at their top, beside bin/.
if(WIN32)
  set(VLX_DOC_DIR .)
else()
  set(VLX_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${VLX_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${VLX_DOC_DIR}/docs)

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-x86_64)
endif()
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_VENDOR "vlxinstall developers")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_SOURCE_IGNORE_FILES /build/ /\\.git/)
include(CPack)

