# zorvik_installed_program(<target>): installs the program into the binary directory so that it
# finds the libraries of its own prefix, wherever the prefix is (relative to its own directory
# unless the directories are given as absolute paths).
function(zorvik_installed_program target)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(rpath "${CMAKE_INSTALL_LIBDIR}")
  else()
    file(RELATIVE_PATH to_libdir "/root/${CMAKE_INSTALL_BINDIR}" "/root/${CMAKE_INSTALL_LIBDIR}")
    set(rpath "$ORIGIN/${to_libdir}")
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
