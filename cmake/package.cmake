# Packages of the installation: a ZIP per Windows target with everything in one folder; a .deb
# and a relocatable .tar.gz for linux64. scripts/package.sh makes the .deb with CPack (which dates
# its members by SOURCE_DATE_EPOCH) and the ZIPs and the .tar.gz itself, so that their members
# come in name order with fixed owners and modes.
set(CPACK_PACKAGE_NAME ${VANTREL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The Vantrel project")
set(CPACK_PACKAGE_CONTACT "Vantrel maintainers <maintainers@vantrel.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Cryptoki bridge, smart-card ATR reader and messaging service client")
set(CPACK_PACKAGE_FILE_NAME ${VANTREL_PACKAGE_NAME}-${PROJECT_VERSION}-${VANTREL_TARGET})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Lines of at most 80 characters, as Debian wants them.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "p11bridge and the Cryptoki classes let Java applications use a
vendor's Cryptoki module; atrprobe and atrprobejni2 read a smart card's
ATR through PC/SC; tavo2, the tavo stub and tavotester serve native hosts
with the messaging service. The JNI libraries are in
/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni, the jars in /usr/share/java, their API
documentation in /usr/share/doc/${VANTREL_PACKAGE_NAME}/api.")
  # The run-time libraries from what the binaries link; Java and pcscd are needed at run time only.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "java17-runtime-headless, pcscd")
endif()
include(CPack)
