# cmake -DSIGN= -DPFX= -DPASSWORD= -DPROGRAM= -DCHECKER= -DCOPY= -P SignTest.cmake
# Signs a copy of PROGRAM through scripts/sign and expects the maker as its signer.
file(COPY_FILE ${PROGRAM} ${COPY})
execute_process(COMMAND ${CMAKE_COMMAND} -E env BOOTWRIGHT_SIGN_FILE=${COPY}
                        BOOTWRIGHT_SIGN_CHECKER=${CHECKER} ${SIGN} ${PFX} ${PASSWORD}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^Signed by: Tessel Software\r?\n$")
  message(FATAL_ERROR "scripts/sign gave ${rc}:\n${out}${err}")
endif()
file(SIZE ${PROGRAM} unsigned)
file(SIZE ${COPY} signed)
if(NOT signed GREATER unsigned)
  message(FATAL_ERROR "the copy carries no signature")
endif()
file(REMOVE ${COPY})
