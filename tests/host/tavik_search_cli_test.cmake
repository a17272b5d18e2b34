# Runs tavik-search as a user does and checks what it prints and returns.
function(run_search expected_result)
  execute_process(COMMAND ${TAVIK_SEARCH} ${ARGN}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  set(output "${output}" PARENT_SCOPE)
  set(error "${error}" PARENT_SCOPE)
  if(expected_result STREQUAL "success" AND NOT result EQUAL 0)
    message(FATAL_ERROR "tavik-search ${ARGN} failed (${result}): ${error}")
  elseif(expected_result STREQUAL "failure" AND result EQUAL 0)
    message(FATAL_ERROR "tavik-search ${ARGN} succeeded but should fail")
  endif()
endfunction()

run_search(success ${SITE} "search")
# execute_process may fold CR LF in what it captures: the bytes themselves
# are checked by the extension tests.
if(NOT output MATCHES "^HTTP/1.1 200 OK\r?\nContent-Type: text/html\r?\n\r?\n")
  message(FATAL_ERROR "no status line and head: ${output}")
endif()
if(NOT output MATCHES "hit\\(s\\) found")
  message(FATAL_ERROR "the demo site has no hits for 'search': ${output}")
endif()

run_search(success --posted "q=Full+Text" ${SITE})
if(NOT output MATCHES "Search string - Full Text<p>")
  message(FATAL_ERROR "--posted data was not used: ${output}")
endif()

run_search(success --query "q=quokka&format=json" ${SITE})
if(NOT output MATCHES "^HTTP/1.1 200 OK\r?\nContent-Type: application/json; charset=utf-8" OR
   NOT output MATCHES "\"url\":\"/news/2026/wildlife.htm\"")
  message(FATAL_ERROR "--query should run a search by URL: ${output}")
endif()

run_search(success --repeat 3 ${SITE} "search")
if(NOT output MATCHES "hit\\(s\\) found" OR
   NOT error MATCHES "^tavik-search: 3 requests in [0-9.]+ ms, [0-9.]+ ms each\n$")
  message(FATAL_ERROR "--repeat 3 should print one page and its timing: ${error}")
endif()

run_search(success --help)
if(NOT output MATCHES "^Usage: tavik-search")
  message(FATAL_ERROR "--help shows no usage")
endif()
# The usage line names every option the text below it explains.
string(REGEX MATCH "^Usage: [^\n]*" usage "${output}")
string(REGEX MATCHALL "\n  --[a-z]+" explained "${output}")
foreach(option ${explained})
  string(STRIP "${option}" option)
  if(NOT option MATCHES "^--(help|version)$" AND NOT usage MATCHES "\\[${option} ")
    message(FATAL_ERROR "the usage line leaves out ${option}: ${usage}")
  endif()
endforeach()

run_search(success --version)
if(NOT output MATCHES "^tavik-search [0-9]+\\.[0-9]+\n$")
  message(FATAL_ERROR "--version gives no version: ${output}")
endif()

foreach(bad "" "--bogus" "--library" "--repeat;0;${SITE}")
  run_search(failure ${bad})
  string(REGEX MATCHALL "\n" lines "${error}")
  list(LENGTH lines count)
  if(NOT count EQUAL 1 OR NOT error MATCHES "^tavik-search: ")
    message(FATAL_ERROR "'${bad}' should give a one-line error, gave: ${error}")
  endif()
endforeach()

run_search(failure --library /nonexistent/libtavik.so ${SITE} x)
if(NOT error MATCHES "^tavik-search: cannot load")
  message(FATAL_ERROR "a missing library should say so: ${error}")
endif()
run_search(failure --library /lib/x86_64-linux-gnu/libc.so.6 ${SITE} x)
if(NOT error MATCHES "lacks GetExtensionVersion")
  message(FATAL_ERROR "a library without the entry points should say so: ${error}")
endif()
