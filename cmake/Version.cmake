# The release version, set once by project(VERSION major.minor). It reaches
# the version resource (and through it the window title), the release's file
# names and the update feed. The program reads it back as "%u.%u" and shows
# it as "%u.%02u", so the text carries two minor digits: 1.0 and 1.00 both
# give "1.00", 1.1 and 1.01 give "1.01".
string(REGEX REPLACE "^0*([0-9])" "\\1" TESSEL_VERSION_MAJOR "${PROJECT_VERSION_MAJOR}")
string(REGEX REPLACE "^0*([0-9])" "\\1" TESSEL_VERSION_MINOR "${PROJECT_VERSION_MINOR}")
if(TESSEL_VERSION_MAJOR GREATER 255 OR TESSEL_VERSION_MINOR GREATER 99)
  message(FATAL_ERROR "Tessel's version ${PROJECT_VERSION} needs a major number up to 255 and a minor number up to 99")
endif()
if(TESSEL_VERSION_MINOR LESS 10)
  set(TESSEL_VERSION_TEXT "${TESSEL_VERSION_MAJOR}.0${TESSEL_VERSION_MINOR}")
else()
  set(TESSEL_VERSION_TEXT "${TESSEL_VERSION_MAJOR}.${TESSEL_VERSION_MINOR}")
endif()
# Read by tools/release.sh for the release's file names.
file(WRITE ${CMAKE_BINARY_DIR}/tessel-version.txt "${TESSEL_VERSION_TEXT}\n")
