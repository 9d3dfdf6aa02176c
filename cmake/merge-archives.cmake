# Merges static archives into one: cmake -DAR=ar -DRANLIB=ranlib
# -DOUTPUT=libout.a -DINPUTS="a.a|b.a" -P merge-archives.cmake. Uses ar's MRI
# script, which GNU ar and the mingw-w64 ar both read. The result is written
# beside OUTPUT and renamed into place.
set(script "CREATE ${OUTPUT}.new\n")
string(REPLACE "|" ";" INPUTS "${INPUTS}")
foreach(input IN LISTS INPUTS)
  string(APPEND script "ADDLIB ${input}\n")
endforeach()
string(APPEND script "SAVE\nEND\n")
file(REMOVE ${OUTPUT}.new)
file(WRITE ${OUTPUT}.mri "${script}")
execute_process(COMMAND ${AR} -M INPUT_FILE ${OUTPUT}.mri RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ar could not merge ${INPUTS} into ${OUTPUT}")
endif()
execute_process(COMMAND ${RANLIB} ${OUTPUT}.new RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ranlib failed on ${OUTPUT}")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.mri)
