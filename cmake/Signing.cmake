# Throwaway self-signed code-signing certificates, made once per build folder, and post-build
# steps that sign a program with one of them. Test material only: they never sign the product.
# Each certificate names a publisher: "microsoft" and "tessel" the two the downloads expect,
# "stranger" anyone else.
set(BW_TEST_CERT_DIR ${CMAKE_BINARY_DIR}/testcert)
function(bw_make_test_cert key subject)
  set(dir ${BW_TEST_CERT_DIR}/${key})
  if(NOT EXISTS ${dir}/cert.pem)
    file(MAKE_DIRECTORY ${dir})
    execute_process(
      COMMAND openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "${subject}"
              -addext "extendedKeyUsage=codeSigning" -keyout ${dir}/key.pem -out ${dir}/cert.pem
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "openssl could not make the test certificate ${key}")
    endif()
  endif()
endfunction()
bw_make_test_cert(microsoft "/CN=Microsoft Corporation/O=Microsoft Corporation")
bw_make_test_cert(tessel "/CN=Tessel Software/O=Tessel Software")
bw_make_test_cert(stranger "/CN=Bootwright Test Signing")

# The maker's test certificate as a release signs with it: a PKCS#12 file and its password.
set(BW_TEST_PFX ${BW_TEST_CERT_DIR}/tessel/cert.pfx)
if(NOT EXISTS ${BW_TEST_PFX})
  file(WRITE ${BW_TEST_CERT_DIR}/tessel/password.txt "test-only\n")
  execute_process(
    COMMAND openssl pkcs12 -export -in ${BW_TEST_CERT_DIR}/tessel/cert.pem
            -inkey ${BW_TEST_CERT_DIR}/tessel/key.pem -out ${BW_TEST_PFX}
            -passout file:${BW_TEST_CERT_DIR}/tessel/password.txt
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl could not make ${BW_TEST_PFX}")
  endif()
endif()

# bw_sign_copy(target signed_name [key]): after target builds, write a copy signed with the
# certificate `key` (stranger by default) beside it.
function(bw_sign_copy target signed_name)
  set(key stranger)
  if(ARGC GREATER 2)
    set(key ${ARGV2})
  endif()
  set(dir ${BW_TEST_CERT_DIR}/${key})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E remove -f $<TARGET_FILE_DIR:${target}>/${signed_name}
    COMMAND osslsigncode sign -certs ${dir}/cert.pem -key ${dir}/key.pem -n "Bootwright test"
            -h sha256 -in $<TARGET_FILE:${target}> -out $<TARGET_FILE_DIR:${target}>/${signed_name}
            > /dev/null
    VERBATIM)
endfunction()

# bw_sign_in_place(target key): the built program itself ends up signed by `key`.
function(bw_sign_in_place target key)
  set(dir ${BW_TEST_CERT_DIR}/${key})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND osslsigncode sign -certs ${dir}/cert.pem -key ${dir}/key.pem -n "Bootwright test"
            -h sha256 -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed > /dev/null
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
