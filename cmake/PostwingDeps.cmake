# The Debian packages the build calls. scripts/deps.sh installs them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)

find_library(ACE_LIBRARY NAMES ACE REQUIRED)
find_path(ACE_INCLUDE_DIR ace/ACE.h REQUIRED)
add_library(pw_ace INTERFACE)
target_link_libraries(pw_ace INTERFACE ${ACE_LIBRARY} Threads::Threads)
target_include_directories(pw_ace SYSTEM INTERFACE ${ACE_INCLUDE_DIR})

find_package(SQLite3 REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(XercesC REQUIRED)

find_library(MIMETIC_LIBRARY NAMES mimetic REQUIRED)
find_path(MIMETIC_INCLUDE_DIR mimetic/mimetic.h REQUIRED)
add_library(pw_mimetic INTERFACE)
target_link_libraries(pw_mimetic INTERFACE ${MIMETIC_LIBRARY})
target_include_directories(pw_mimetic SYSTEM INTERFACE ${MIMETIC_INCLUDE_DIR})

find_program(XSDCXX_EXECUTABLE NAMES xsdcxx REQUIRED)
find_path(HTTPLIB_INCLUDE_DIR httplib.h)
