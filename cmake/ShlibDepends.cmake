# Runs dpkg-shlibdeps over the programs the package ships and the engine library the tool
# carries inside itself (invisible to a scan of the installed files), and writes the merged
# dependency list to OUT. Called at build time: cmake -DOUT=... -DFILES="a;b" -P this file.
set(work "${OUT}.d")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/debian")
# dpkg-shlibdeps wants to be run from a source package; an empty control file is enough.
file(TOUCH "${work}/debian/control")
execute_process(
    COMMAND dpkg-shlibdeps -O ${FILES}
    WORKING_DIRECTORY "${work}"
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors
    RESULT_VARIABLE result)
file(REMOVE_RECURSE "${work}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-shlibdeps failed: ${errors}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" "" depends "${output}")
string(STRIP "${depends}" depends)
file(WRITE "${OUT}" "${depends}")
