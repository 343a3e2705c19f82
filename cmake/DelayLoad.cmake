# Import libraries that load their DLL at its first call instead of at start-up. The program
# limits the DLL search to the system folder first thing in WinMain, but a DLL in the import
# table is loaded before that, and from the program's own folder first unless the system
# knows the name (KnownDLLs).
#
# bw_delay_load(name): the target bw_delay_<name> stands for the toolchain's lib<name>.a, with
# the same entries, made delay-loading by dlltool.
function(bw_delay_load name)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  set(lib ${dir}/lib${name}_delay.a)
  if(NOT EXISTS ${lib})
    find_library(BW_IMPORT_LIB_${name} ${name} REQUIRED)
    execute_process(COMMAND ${CMAKE_NM} ${BW_IMPORT_LIB_${name}} OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${CMAKE_NM} cannot read ${BW_IMPORT_LIB_${name}}")
    endif()
    # An entry shows as __imp_Name (x86_64) or __imp__Name@bytes (i686; -k drops the @bytes
    # from the name that is looked up).
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(prefix "__imp__")
    else()
      set(prefix "__imp_")
    endif()
    string(REGEX MATCHALL "[0-9a-f]+ I ${prefix}[^\n]+" entries "${symbols}")
    list(TRANSFORM entries REPLACE "^[0-9a-f]+ I ${prefix}" "")
    list(REMOVE_DUPLICATES entries)
    list(JOIN entries "\n" exports)
    file(WRITE ${dir}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} -k -d ${name}.def -y ${lib} -D ${name}.dll
                    WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${CMAKE_DLLTOOL} could not make ${lib}")
    endif()
  endif()
  add_library(bw_delay_${name} INTERFACE)
  target_link_libraries(bw_delay_${name} INTERFACE ${lib})
endfunction()

foreach(name version wintrust crypt32 mpr urlmon comctl32)
  bw_delay_load(${name})
endforeach()
