# Documentation installed beside the tool, and the name of the release
# archive that scripts/pack-release.py makes of this build's vlxinstall
# component (the tool and its documents; the library is not in it):
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
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${VLX_DOC_DIR}/docs COMPONENT vlxinstall)

if(WIN32)
  set(release_name ${PROJECT_NAME}-${PROJECT_VERSION}-windows-x86_64.zip)
else()
  set(release_name ${PROJECT_NAME}-${PROJECT_VERSION}-linux-x86_64.tar.gz)
endif()
file(WRITE ${PROJECT_BINARY_DIR}/release-name.txt ${release_name}\n)
