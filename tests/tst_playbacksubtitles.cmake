set_tests_properties(tst_playbacksubtitles PROPERTIES LABELS "engine")
