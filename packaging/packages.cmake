# The packages, built into dist/ of the build tree:
#   Ostrilo-<version>-x64.msi  target ostrilo_msi (only when wixl is installed)
#   Ostrilo-<version>-x64.zip  target ostrilo_zip (only when zip is installed)
#   policy/                    the policy templates, beside the MSI (with ostrilo_msi)
# <version> is the project version of the top CMakeLists.txt, the one place
# that also sets the exe's version resource. The targets are made at the end
# of the top CMakeLists.txt, so that they see ostrilo-admin wherever it is defined;
# when that target exists, ostrilo-admin.exe is shipped beside Ostrilo.exe.
# Both packages take the programs from dist/programs, where scripts/sign.sh
# has signed them (and then signs the MSI) when the environment names a key.
find_program(OSTRILO_WIXL wixl)
# wixl writes no component conditions, no REG_EXPAND_SZ and no key removed
# on uninstall; msibuild sets the condition of the machine-wide registration
# and the event source's value and key, without which no MSI is built.
find_program(OSTRILO_MSIBUILD msibuild)
if(NOT OSTRILO_MSIBUILD)
  set(OSTRILO_WIXL OSTRILO_WIXL-NOTFOUND)
endif()
find_program(OSTRILO_ZIP zip)
set(OSTRILO_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(OSTRILO_PACKAGE_NAME Ostrilo-${PROJECT_VERSION}-x64)
set(OSTRILO_MSI ${OSTRILO_DIST_DIR}/${OSTRILO_PACKAGE_NAME}.msi)

function(ostrilo_add_packages)
  set(packaging ${CMAKE_SOURCE_DIR}/packaging)
  # ostrilo.admx with en-US\ostrilo.adml and de-DE\ostrilo.adml, as they go
  # into a central store or Intune.
  set(templates ${packaging}/policy/ostrilo.admx ${packaging}/policy/en-US/ostrilo.adml
                ${packaging}/policy/de-DE/ostrilo.adml)
  set(sign ${CMAKE_SOURCE_DIR}/scripts/sign.sh)
  set(programs Ostrilo)
  set(admin_variables -D WithAdmin=0)
  if(TARGET ostrilo-admin)
    list(APPEND programs ostrilo-admin)
    # It is staged beside Ostrilo.exe, where wixl runs.
    set(admin_variables -D WithAdmin=1 -D AdminExe=$<TARGET_FILE_NAME:ostrilo-admin>)
  endif()
  set(staged_dir ${OSTRILO_DIST_DIR}/programs)
  set(staged)
  set(copy_programs)
  foreach(program ${programs})
    list(APPEND staged ${staged_dir}/$<TARGET_FILE_NAME:${program}>)
    list(APPEND copy_programs COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${staged_dir})
  endforeach()
  # The notices of the libraries linked into the programs go beside them.
  set(notices ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES.txt)
  add_custom_command(OUTPUT ${staged_dir}/stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${staged_dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${staged_dir}
    ${copy_programs}
    COMMAND ${sign} ${staged}
    COMMAND ${CMAKE_COMMAND} -E copy ${notices} ${staged_dir}
    COMMAND ${CMAKE_COMMAND} -E touch ${staged_dir}/stamp
    DEPENDS ${programs} ${sign} ${notices}
    VERBATIM)
  # One target makes them; both packages wait for it.
  add_custom_target(ostrilo_programs DEPENDS ${staged_dir}/stamp)

  if(OSTRILO_WIXL)
    # Active Setup compares its Version as four comma-separated numbers.
    set(active_version ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
    # One product code per version (derived from the upgrade code), so that two
    # builds of one version are one product, not two entries side by side.
    set(event_source_key "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ostrilo")
    string(UUID product_code NAMESPACE 17F1CC55-A559-4BC3-8976-5A69D4BB45CD NAME "Ostrilo ${PROJECT_VERSION} x64"
           TYPE SHA1 UPPER)
    add_custom_command(OUTPUT ${OSTRILO_MSI}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTRILO_DIST_DIR}
      COMMAND ${OSTRILO_WIXL} -a x64 -D Version=${PROJECT_VERSION} -D ActiveVersion=${active_version}
              -D ProductCode=${product_code}
              -D OstriloExe=$<TARGET_FILE_NAME:Ostrilo> ${admin_variables} -o ${OSTRILO_MSI} ${packaging}/ostrilo.wxs
      COMMAND ${OSTRILO_MSIBUILD} ${OSTRILO_MSI} -q
              "UPDATE `Component` SET `Condition` = 'MACHINEREGISTRATION = \"1\"' WHERE `Component` = 'MachineRegistration'"
      COMMAND ${OSTRILO_MSIBUILD} ${OSTRILO_MSI} -q
              "UPDATE `Registry` SET `Value` = '#%[INSTALLDIR]Ostrilo.exe' WHERE `Name` = 'EventMessageFile'"
      COMMAND ${OSTRILO_MSIBUILD} ${OSTRILO_MSI} -q
              "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSourceKey', 2, '${event_source_key}', '*', 'EventSource')"
      COMMAND ${sign} ${OSTRILO_MSI}
      COMMAND ${CMAKE_COMMAND} -E copy_directory ${packaging}/policy ${OSTRILO_DIST_DIR}/policy
      DEPENDS ${packaging}/ostrilo.wxs ${staged_dir}/stamp ${templates}
      # wixl takes file sources relative to the current folder only.
      WORKING_DIRECTORY ${staged_dir}
      VERBATIM)
    add_custom_target(ostrilo_msi DEPENDS ${OSTRILO_MSI})
    add_dependencies(ostrilo_msi ostrilo_programs)
  endif()

  if(OSTRILO_ZIP)
    # The zip holds one folder: the programs with their notices, README.md,
    # CHANGELOG.md and the pages of docs/ with their pictures (the links
    # between them stay as in the source tree), the policy templates under
    # policy/, and the examples under names that Ostrilo does not read.
    set(stage ${OSTRILO_DIST_DIR}/zip/${OSTRILO_PACKAGE_NAME})
    set(zip_file ${OSTRILO_DIST_DIR}/${OSTRILO_PACKAGE_NAME}.zip)
    file(GLOB pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
    file(GLOB pictures CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/images/*.png)
    set(copy_pictures)
    if(pictures)
      set(copy_pictures COMMAND ${CMAKE_COMMAND} -E copy ${pictures} ${stage}/docs/images)
    endif()
    set(examples "${packaging}/url whitelist.txt.example" ${packaging}/ostrilo.cfg.example)
    add_custom_command(OUTPUT ${zip_file}
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${OSTRILO_DIST_DIR}/zip ${zip_file}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/docs/images
      COMMAND ${CMAKE_COMMAND} -E copy ${staged} ${notices} ${stage}
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${examples} ${stage}
      COMMAND ${CMAKE_COMMAND} -E copy ${pages} ${stage}/docs
      ${copy_pictures}
      COMMAND ${CMAKE_COMMAND} -E copy_directory ${packaging}/policy ${stage}/policy
      COMMAND ${CMAKE_COMMAND} -E chdir ${OSTRILO_DIST_DIR}/zip
              ${OSTRILO_ZIP} -q -r -X ${zip_file} ${OSTRILO_PACKAGE_NAME}
      DEPENDS ${staged_dir}/stamp ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${pages} ${examples}
              ${pictures} ${templates}
      VERBATIM)
    add_custom_target(ostrilo_zip DEPENDS ${zip_file})
    add_dependencies(ostrilo_zip ostrilo_programs)
  endif()
endfunction()
cmake_language(DEFER CALL ostrilo_add_packages)
