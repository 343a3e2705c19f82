# A throwaway self-signed code-signing certificate, made once per build folder, and a
# post-build step that signs a program with it. Test material only: it never signs the product.
set(BW_TEST_CERT ${CMAKE_BINARY_DIR}/testcert/cert.pem)
set(BW_TEST_KEY ${CMAKE_BINARY_DIR}/testcert/key.pem)
if(NOT EXISTS ${BW_TEST_CERT})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/testcert)
  execute_process(
    COMMAND openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Bootwright Test Signing"
            -addext "extendedKeyUsage=codeSigning" -keyout ${BW_TEST_KEY} -out ${BW_TEST_CERT}
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl could not make the test certificate")
  endif()
endif()

# bw_sign_copy(target signed_name): after target builds, write a signed copy beside it.
function(bw_sign_copy target signed_name)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E remove -f $<TARGET_FILE_DIR:${target}>/${signed_name}
    COMMAND osslsigncode sign -certs ${BW_TEST_CERT} -key ${BW_TEST_KEY} -n "Bootwright test"
            -h sha256 -in $<TARGET_FILE:${target}> -out $<TARGET_FILE_DIR:${target}>/${signed_name}
            > /dev/null
    VERBATIM)
endfunction()

# bw_sign_in_place(target): the built program itself ends up signed.
function(bw_sign_in_place target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND osslsigncode sign -certs ${BW_TEST_CERT} -key ${BW_TEST_KEY} -n "Bootwright test"
            -h sha256 -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed > /dev/null
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
