# Unity builds: a target's sources compile in groups, each group one compiler run that parses the
# shared headers once. A group holds up to VELDMIX_UNITY_BATCH sources of one folder, in name
# order, so a new source moves only the groups of its own folder.
# The sources of a group share one translation unit: names in their anonymous namespaces, their
# statics and macros meet. A source whose file-local names clash with another's in its group
# stands alone (listed below); renaming the clashing helper is the other way out.
include_guard(GLOBAL)

option(VELDMIX_UNITY_BUILD "Compile each target's sources in groups (fewer, larger compiler runs)" OFF)
set(VELDMIX_UNITY_BATCH 8 CACHE STRING "Most sources in one unity group")

# Sources compiled on their own: a macro or a using-directive of theirs (X11's None and Status
# among them) would reach the sources after them, or a file-local name of theirs clashes with
# another source's in their group (a redefinition or an ambiguous name in the unity build).
set(VELDMIX_UNITY_ALONE
  base/log.cpp
  broadcast/camera.cpp broadcast/live_video.cpp broadcast/mix_recording.cpp broadcast/rtmp_chunks.cpp
  broadcast/rtmp_test_server.cpp broadcast/visualiser.cpp broadcast/visuals_classic.cpp
  broadcast/visuals_show.cpp
  control/midi_learn.cpp
  engine/undo.cpp
  settings/skin_editor.cpp
  base/beat_grid.cpp
  karaoke/karaoke_draw_parts.cpp karaoke/lrc.cpp
  library/rekordbox_write.cpp library/serato_tags.cpp library/track_view.cpp library/traktor_import.cpp
  platform/crash.cpp platform/monitors.cpp platform/onnx_runtime.cpp
  screens/browser_table.cpp screens/deck_panel.cpp screens/grid_editor.cpp screens/macros_panel_view.cpp
  screens/main_screen.cpp screens/mixer.cpp screens/pitch_jog.cpp screens/slim_layout.cpp
  screens/top_bar.cpp
  selftest/controller_steps.cpp selftest/feature_run.cpp selftest/karaoke_run.cpp selftest/stem_run.cpp
  settings/pages/library_page.cpp settings/pages/look_page.cpp settings/pages/updates_page.cpp
  settings/settings_screen.cpp settings/skins.cpp
  ui/draw_pixels.cpp ui/glow.cpp
  bench/browser_bench.cpp bench/engine_lock_bench.cpp bench/frame_bench.cpp bench/karaoke_bench.cpp
  bench/karaoke_screen_bench.cpp bench/main_screen_bench.cpp bench/onboard_bench.cpp
  bench/rekordbox_bench.cpp bench/video_encode_bench.cpp bench/waveform_bench.cpp
  tools/veldmix-tool/karaoke_screen_commands.cpp tools/veldmix-tool/library_scan_commands.cpp
  tools/veldmix-tool/library_tool.cpp tools/veldmix-tool/library_view_commands.cpp
  tools/veldmix-tool/video_record_commands.cpp tools/veldmix-tool/visual_commands.cpp
  tests/base/log_test.cpp tests/platform/x_errors_test.cpp
  tests/broadcast/rtmp_publish_test.cpp tests/broadcast/speed_test_test.cpp
  tests/broadcast/video_feed_test.cpp tests/broadcast/visual_raster_test.cpp
  tests/control/hid_reports_test.cpp tests/control/macros_test.cpp tests/control/midi_learn_test.cpp
  tests/control/timecode_test.cpp
  tests/engine/key_lock_test.cpp
  tests/engine/audio_output_test.cpp tests/engine/audio_routing_test.cpp tests/engine/automix_test.cpp
  tests/base/beat_grid_test.cpp tests/engine/engine_test.cpp tests/engine/grid_edits_test.cpp
  tests/engine/loops_test.cpp tests/engine/mixer_ramps_test.cpp tests/engine/phrases_test.cpp
  tests/engine/render_alloc_test.cpp tests/engine/sampler_test.cpp tests/engine/sandbox_test.cpp
  tests/engine/stem_controls_test.cpp tests/engine/stem_render_test.cpp tests/engine/stems_test.cpp
  tests/engine/undo_test.cpp
  tests/karaoke/karaoke_draw_test.cpp tests/karaoke/karaoke_show_test.cpp tests/karaoke/lyrics_test.cpp
  tests/library/ai_set_test.cpp tests/library/analysis_queue_test.cpp
  tests/screens/grid_editor_test.cpp tests/screens/waveform_test.cpp
  tests/selftest/selftest_tick_test.cpp
  tests/settings/karaoke_page_test.cpp tests/settings/settings_screen_test.cpp
  tests/ui/glow_test.cpp tests/ui/modal_test.cpp tests/ui/popup_menu_test.cpp)

function(veldmix_unity target)
  if(NOT VELDMIX_UNITY_BUILD)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
  # Every source is an included file here, where GCC takes a class of the source that holds a
  # member of a file-local type for a header's class.
  target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  get_target_property(sources ${target} SOURCES)
  set(alone ${VELDMIX_UNITY_ALONE})
  list(TRANSFORM alone PREPEND "${CMAKE_SOURCE_DIR}/")
  foreach(source ${sources})
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    # A source another target grouped already (the test support files the benchmarks share)
    # keeps that group.
    get_source_file_property(group ${source} UNITY_GROUP)
    if(group)
      continue()
    endif()
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    get_filename_component(folder ${relative} DIRECTORY)
    string(MAKE_C_IDENTIFIER "${folder}" folder)
    # The place in the folder counts the sources that stand alone too, so listing one moves no
    # other source to another group.
    if(NOT DEFINED count_${folder})
      set(count_${folder} 0)
    endif()
    math(EXPR index "${count_${folder}} / ${VELDMIX_UNITY_BATCH}")
    math(EXPR count_${folder} "${count_${folder}} + 1")
    if(source IN_LIST alone)
      set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    else()
      set_source_files_properties(${source} PROPERTIES UNITY_GROUP "${folder}_${index}")
    endif()
  endforeach()
endfunction()
