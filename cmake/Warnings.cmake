# Strict warnings for the project's own targets (never for third-party code).
function(zv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
