# Install rules: every deliverable, the jars with their javadoc, a sample tavodll_classpath.conf
# and the README, in three components that install alone (cmake --install <build> --component
# bridge|atr|service). Tests, test doubles and benchmarks are never installed.
include(GNUInstallDirs)
set(VANTREL_PACKAGE_NAME vantrel-native)

if(WIN32)
  # One folder: the loader finds the DLLs beside the host, and the sample's class path is relative.
  foreach(kind bin jni service java doc example)
    set(install_${kind} .)
  endforeach()
  set(sample_class_path tavo-proxy.jar)
  if(VANTREL_TARGET STREQUAL "win32")
    set(sample_jvm_library "C:\\Program Files (x86)\\Java\\jdk-17\\bin\\server\\jvm.dll")
  else()
    set(sample_jvm_library "C:\\Program Files\\Java\\jdk-17\\bin\\server\\jvm.dll")
  endif()
  set(sample_newlines CRLF)
else()
  set(install_bin ${CMAKE_INSTALL_BINDIR})
  # Where Debian's JNI libraries live; Java finds them with -Djava.library.path.
  set(install_jni ${CMAKE_INSTALL_LIBDIR}/jni)
  # The stub and the service client are loaded by native hosts, not by Java.
  set(install_service ${CMAKE_INSTALL_LIBDIR}/vantrel)
  set(install_java ${CMAKE_INSTALL_DATAROOTDIR}/java)
  set(install_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VANTREL_PACKAGE_NAME})
  set(install_example ${install_doc}/examples)
  set(sample_class_path ${CMAKE_INSTALL_PREFIX}/${install_java}/tavo-proxy.jar)
  set(sample_jvm_library /usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so)
  set(sample_newlines UNIX)
  # Each finds the library it loads relative to itself, wherever the tree is unpacked.
  set_target_properties(atrprobejni2 tavo PROPERTIES INSTALL_RPATH "$ORIGIN")
  file(RELATIVE_PATH tester_to_service /${install_bin} /${install_service})
  set_target_properties(tavotester PROPERTIES INSTALL_RPATH "$ORIGIN/${tester_to_service}")
endif()

# Import libraries of the DLLs are left out: hosts load the DLLs by name.
function(vantrel_install_binaries component destination)
  install(TARGETS ${ARGN}
          RUNTIME DESTINATION ${destination} COMPONENT ${component}
          LIBRARY DESTINATION ${destination} COMPONENT ${component}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT import_libraries EXCLUDE_FROM_ALL)
endfunction()

# A jar, and its javadoc jar when it has one, under the installed name.
function(vantrel_install_jar component jar_target installed_name)
  get_target_property(jar ${jar_target} JAR_FILE)
  install(FILES ${jar} DESTINATION ${install_java} RENAME ${installed_name}.jar COMPONENT ${component})
  get_target_property(javadoc_jar ${jar_target} VANTREL_JAVADOC_JAR)
  if(javadoc_jar)
    install(FILES ${javadoc_jar} DESTINATION ${install_java} RENAME ${installed_name}-javadoc.jar
            COMPONENT ${component})
  endif()
endfunction()

vantrel_install_binaries(bridge ${install_jni} p11bridge)
vantrel_install_jar(bridge vantrel_pkcs11 vantrel-pkcs11)
vantrel_install_jar(bridge vantrel_pkcs11_demo vantrel-pkcs11-demo)

vantrel_install_binaries(atr ${install_jni} atrprobe atrprobejni2)
vantrel_install_jar(atr atr_java vantrel-atr)

vantrel_install_binaries(service ${install_service} tavo tavo2)
vantrel_install_binaries(service ${install_bin} tavotester)
vantrel_install_jar(service tavo_proxy_java tavo-proxy)
set(sample_conf ${CMAKE_BINARY_DIR}/tavodll_classpath.conf)
configure_file(${VANTREL_ROOT}/service/tavodll_classpath.conf.in ${sample_conf} @ONLY NEWLINE_STYLE ${sample_newlines})
install(FILES ${sample_conf} DESTINATION ${install_example} COMPONENT service)

# Every group alone still comes with the README (and, on Linux, the copyright file).
foreach(component bridge atr service)
  install(FILES ${VANTREL_ROOT}/README.md DESTINATION ${install_doc} COMPONENT ${component})
  if(NOT WIN32)
    install(FILES ${VANTREL_ROOT}/cmake/copyright DESTINATION ${install_doc} COMPONENT ${component})
  endif()
endforeach()
