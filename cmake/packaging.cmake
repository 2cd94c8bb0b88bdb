# Documentation and manual pages installed with the tools, and the name of
# the release archive that scripts/pack-release.py makes of this build's
# vlxinstall component (the tools and their documents; the library is not in
# it):
# vlxinstall-<version>-windows-x86_64.zip or vlxinstall-<version>-linux-x86_64.tar.gz.

# Windows archives keep the documents at their top, beside bin/.
if(WIN32)
  set(VLX_DOC_DIR .)
else()
  set(VLX_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()
if(NOT VLX_INSTALL)
  return()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${VLX_DOC_DIR} COMPONENT vlxinstall)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${VLX_DOC_DIR}/docs COMPONENT vlxinstall
  PATTERN man EXCLUDE)
# The manual pages, where manual pages are read.
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/vlxinstall.1 ${PROJECT_SOURCE_DIR}/docs/man/vlxini.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vlxinstall)
endif()

if(WIN32)
  set(release_name ${PROJECT_NAME}-${PROJECT_VERSION}-windows-x86_64.zip)
else()
  set(release_name ${PROJECT_NAME}-${PROJECT_VERSION}-linux-x86_64.tar.gz)
endif()
file(WRITE ${PROJECT_BINARY_DIR}/release-name.txt ${release_name}\n)
