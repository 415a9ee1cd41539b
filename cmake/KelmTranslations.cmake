# kelm_add_translation(<target> <ts file> <source dirs...>)
#
# Builds the translation file (.ts, kept in translations/) into a .qm with
# lrelease and embeds it in <target> as the Qt resource :/i18n/<name>.qm; the
# program loads every :/i18n/*_<lang>.qm it finds. The source directories are
# remembered for the test that brings each .ts up to date from its sources
# and fails on any text without a finished translation.
#
# The same lupdate command updates a .ts by hand after texts change:
#   cmake --build build/default --target kelm-update-translations
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)

# What lupdate is told beyond tr() and QT_TRANSLATE_NOOP.
# -I: lupdate reads the class declarations to name each tr() context.
set(KELM_LUPDATE_OPTIONS -locations none -no-ui-lines -extensions cpp,h -I ${PROJECT_SOURCE_DIR}/src
    CACHE INTERNAL "lupdate options shared by the update target and the test")

if(NOT TARGET kelm-update-translations)
  add_custom_target(kelm-update-translations)
endif()

function(kelm_add_translation target ts)
  set(dirs ${ARGN})
  get_filename_component(ts_abs ${ts} ABSOLUTE)
  get_filename_component(name ${ts_abs} NAME_WE)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/i18n)
  set(qm ${out_dir}/${name}.qm)
  add_custom_command(
    OUTPUT ${qm}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND Qt6::lrelease -silent ${ts_abs} -qm ${qm}
    DEPENDS ${ts_abs}
    COMMENT "Translation ${name}.qm"
    VERBATIM)
  qt_add_resources(${target} "kelm_i18n_${name}"
    PREFIX /i18n
    BASE ${out_dir}
    FILES ${qm})

  set(abs_dirs)
  foreach(d ${dirs})
    list(APPEND abs_dirs ${PROJECT_SOURCE_DIR}/${d})
  endforeach()
  add_custom_target(kelm-update-translation-${name}
    COMMAND Qt6::lupdate ${KELM_LUPDATE_OPTIONS} ${abs_dirs} -ts ${ts_abs}
    COMMENT "Updating ${ts}"
    VERBATIM)
  add_dependencies(kelm-update-translations kelm-update-translation-${name})

  # For tests/i18n: "<ts>|<dir>;<dir>" entries.
  string(REPLACE ";" "," dir_list "${abs_dirs}")
  set_property(GLOBAL APPEND PROPERTY KELM_TRANSLATIONS "${ts_abs}|${dir_list}")
endfunction()
