# One place that says how our own targets are compiled.
function(quoxel_set_compile_options target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF AUTOMOC ON)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS)
endfunction()

# quoxel_add_library(<name> SOURCES ... LINKS ...)
function(quoxel_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    quoxel_set_compile_options(${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()

# quoxel_add_test(<name> LABELS ... SOURCES ... LINKS ... [GUI])
# GUI tests get a QApplication main; the rest a QCoreApplication main.
function(quoxel_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LINKS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    quoxel_set_compile_options(${name})
    # A folder of its own: the program's Quoxel.ini and Quoxel.log live beside the executable, and
    # test programs running at the same time must not read, truncate or rewrite each other's.
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name})
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE quoxel_test_main_gui)
    else()
        target_link_libraries(${name} PRIVATE quoxel_test_main)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gmock)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600
                         ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
    # Tests on the X display read the screen back and activate their windows: two at once would
    # cover each other's windows (each program centres its window) and take each other's focus.
    if("display" IN_LIST ARG_LABELS)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK x_display)
    endif()
endfunction()
