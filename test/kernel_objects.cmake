# Checks that the kernel objects compiled for wider instruction sets define no
# code with external linkage: a function there (a template of the standard
# library, say) could be picked by the linker for baseline code, which would then
# stop on an illegal instruction on a processor without that set.
# OBJECTS is the list of objects, NM the nm to read them with.
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND "${NM}" --defined-only "${object}" OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
  foreach(line IN LISTS lines)
    # Code, strong or weak (T, W): data such as the kernel set or a sanitizer's
    # or the unwinder's references (D, B, R, V) holds no instructions.
    if(line MATCHES " [TW] " AND NOT line MATCHES "kernel_set")
      message(FATAL_ERROR "${object} exports more than its kernel set: ${line}")
    endif()
  endforeach()
endforeach()
