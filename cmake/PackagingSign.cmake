# Run by cpack after it installs the files and before it packs them: signs each program
# (packaging/windows/sign.sh signs when a certificate is given, and does nothing otherwise).
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
foreach(program IN LISTS programs)
    execute_process(COMMAND "${CPACK_QUILLET_SIGN}" "${program}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "signing ${program} failed")
    endif()
endforeach()
