set_tests_properties(tst_playbackengine PROPERTIES LABELS "engine")
