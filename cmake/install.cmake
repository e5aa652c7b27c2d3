# Install rules: every deliverable, the jars with their API documentation, a sample
# tavodll_classpath.conf and the README, in three components that install alone (cmake --install
# <build> --component bridge|atr|service). Tests, test doubles and benchmarks are never installed.
# Linux lays the files out as Debian wants them: versioned jars with unversioned links, the API
# documentation as HTML under the doc folder, a changelog and a manual page.
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

# <output>: <jar> written again with its entries in name order and dated VANTREL_SOURCE_DATE, so
# the packages do not change with the time of the build; built by the target <name>_reproducible.
function(vantrel_reproducible_jar name jar_target jar output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DJAR_TOOL=${Java_JAR_EXECUTABLE} -DINPUT=${jar} -DOUTPUT=${output}
            -DDATE=${VANTREL_SOURCE_DATE} -P ${VANTREL_ROOT}/cmake/reproducible_jar.cmake
    DEPENDS ${jar} ${jar_target} ${VANTREL_ROOT}/cmake/reproducible_jar.cmake ${VANTREL_SOURCE_DATE_FILE} VERBATIM)
  add_custom_target(${name}_reproducible ALL DEPENDS ${output})
endfunction()

# A jar under its installed name, with its API documentation when it has some: on Windows as a
# -javadoc.jar beside it; on Linux versioned with an unversioned link, the documentation as HTML.
function(vantrel_install_jar component jar_target installed_name)
  set(release ${CMAKE_BINARY_DIR}/release_jars)
  get_target_property(jar ${jar_target} JAR_FILE)
  if(WIN32)
    set(installed ${release}/${installed_name}.jar)
  else()
    set(installed ${release}/${installed_name}-${PROJECT_VERSION}.jar)
    file(MAKE_DIRECTORY ${release}/links)
    file(CREATE_LINK ${installed_name}-${PROJECT_VERSION}.jar ${release}/links/${installed_name}.jar SYMBOLIC)
    install(FILES ${release}/links/${installed_name}.jar DESTINATION ${install_java} COMPONENT ${component})
  endif()
  vantrel_reproducible_jar(${installed_name} ${jar_target} ${jar} ${installed})
  install(FILES ${installed} DESTINATION ${install_java} COMPONENT ${component})
  get_target_property(javadoc_jar ${jar_target} VANTREL_JAVADOC_JAR)
  if(NOT javadoc_jar)
    return()
  endif()
  if(WIN32)
    vantrel_reproducible_jar(${installed_name}-javadoc ${jar_target}_javadoc ${javadoc_jar} ${release}/${installed_name}-javadoc.jar)
    install(FILES ${release}/${installed_name}-javadoc.jar DESTINATION ${install_java} COMPONENT ${component})
  else()
    get_target_property(javadoc_dir ${jar_target} VANTREL_JAVADOC_DIR)
    install(DIRECTORY ${javadoc_dir}/ DESTINATION ${install_doc}/api/${installed_name} COMPONENT ${component})
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

# <input> compressed as gzip -9n does (no name, no time stamp) into <output>.gz.
function(vantrel_gzip input output)
  find_program(GZIP_EXECUTABLE gzip REQUIRED)
  add_custom_command(OUTPUT ${output}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${input} ${output}
    COMMAND ${GZIP_EXECUTABLE} -9nf ${output}
    DEPENDS ${input} VERBATIM)
  get_filename_component(name ${output} NAME)
  add_custom_target(${name}_gz ALL DEPENDS ${output}.gz)
endfunction()

if(NOT WIN32)
  # A native package (the version has no Debian revision): its changelog is changelog.gz. It and
  # the manual page are dated by the last commit.
  string(TIMESTAMP VANTREL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${VANTREL_ROOT}/cmake/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog.in @ONLY)
  vantrel_gzip(${CMAKE_BINARY_DIR}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog)
  string(TIMESTAMP VANTREL_MANUAL_DATE "%Y-%m-%d" UTC)
  configure_file(${VANTREL_ROOT}/tester/tavotester.1.in ${CMAKE_BINARY_DIR}/man/tavotester.1.in @ONLY)
  vantrel_gzip(${CMAKE_BINARY_DIR}/man/tavotester.1.in ${CMAKE_BINARY_DIR}/man/tavotester.1)
  install(FILES ${CMAKE_BINARY_DIR}/man/tavotester.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT service)
endif()

# Every group alone still comes with the README (and, on Linux, the copyright file and the changelog).
foreach(component bridge atr service)
  install(FILES ${VANTREL_ROOT}/README.md DESTINATION ${install_doc} COMPONENT ${component})
  if(NOT WIN32)
    install(FILES ${VANTREL_ROOT}/cmake/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${install_doc}
            COMPONENT ${component})
  endif()
endforeach()
