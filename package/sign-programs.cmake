# Run by CPack between its stripped install of the release into the staging
# folder and the ZIP: signs both programs there (scripts/sign.sh, which signs
# nothing without a certificate). A failed signing fails the package.
execute_process(COMMAND ${CPACK_SIGN_SCRIPT}
                        ${CPACK_TEMPORARY_DIRECTORY}/MIREVO.exe ${CPACK_TEMPORARY_DIRECTORY}/DRELOM.exe
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "scripts/sign.sh could not sign the programs (${failed})")
endif()
