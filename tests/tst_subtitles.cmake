set_tests_properties(tst_subtitles PROPERTIES LABELS "subtitles")
