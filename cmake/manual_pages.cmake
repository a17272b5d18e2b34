# Manual pages made from the programs' own --help and --version by help2man
# (Debian's help2man), with the sections their help does not hold (exit
# status, files, see also) from deploy/man/PROGRAM.h2m; compressed as
# Debian keeps them. Without help2man there are none, and the build says so
# (scripts/setup package installs it).
find_program(TAVIK_HELP2MAN help2man)
if(NOT TAVIK_HELP2MAN)
  message(STATUS "help2man not found: no manual pages (scripts/setup package)")
endif()

# Makes man1/PROGRAM.1.gz in the build folder from the program `target`,
# whose one-line summary is `summary`, and installs it into section 1.
function(tavik_manual_page target summary)
  if(NOT TAVIK_HELP2MAN)
    return()
  endif()
  set(folder ${PROJECT_BINARY_DIR}/man1)
  set(sections ${PROJECT_SOURCE_DIR}/deploy/man/${target}.h2m)
  set(page ${folder}/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${TAVIK_HELP2MAN} --no-info
      --name ${summary} --include ${sections} --output ${page}
      $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} ${sections}
    COMMENT "Making the manual page of ${target}" VERBATIM)
  add_custom_target(${target}_manual_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
