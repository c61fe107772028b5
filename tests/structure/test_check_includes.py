#!/usr/bin/env python3
"""The include checker on small trees: it passes a tree that keeps its rules
and fails on each kind of fault it exists to catch."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "cmake", "check_includes.py")

RULES = """\
# low to high
base:
mid: base
top: base mid
tests: *
"""


class CheckIncludesTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = self.tmp.name
        self.write("cmake/include_rules.txt", RULES)
        self.write("base/Base.h", "#pragma once\n#include <vector>\n")
        self.write("mid/Mid.h", '#pragma once\n#include "base/Base.h"\n#include "Local.h"\n')
        self.write("mid/Local.h", "#pragma once\n")
        self.write("top/Top.cpp", '#include "mid/Mid.h"\n#include "base/Base.h"\n#include <QWidget>\n')
        self.write("tests/test_top.cpp", '#include "top/Top.h"\n#include "mid/Mid.h"\n')
        # Build folders and files without C++ sources are not looked at.
        self.write("build-x/gen.cpp", '#include "top/Top.h"\n')
        self.write("out/CMakeCache.txt", "")
        self.write("out/base/moc_gen.cpp", '#include "top/Top.h"\n')
        self.write("docs/readme.txt", '#include "top/Top.h"\n')

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, rel, text):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def run_checker(self):
        r = subprocess.run([sys.executable, CHECKER, self.root], capture_output=True, text=True)
        return r.returncode, r.stdout

    def test_a_tree_that_keeps_its_rules_passes(self):
        self.assertEqual(self.run_checker(), (0, ""))

    def test_an_include_from_a_lower_layer_to_a_higher_one_fails(self):
        self.write("base/Base.cpp", '#include "base/Base.h"\n\n  #  include "top/Top.h"\n')
        rc, out = self.run_checker()
        self.assertEqual(rc, 1)
        self.assertIn('base/Base.cpp:3: base/ may not include "top/Top.h"', out)

    def test_a_sibling_not_listed_is_forbidden_too(self):
        self.write("cmake/include_rules.txt", RULES + "side: base\n")
        self.write("side/Side.h", '#include "mid/Mid.h"\n')
        rc, out = self.run_checker()
        self.assertEqual(rc, 1)
        self.assertIn('side/Side.h:1: side/ may not include "mid/Mid.h"', out)

    def test_a_relative_path_out_of_the_folder_is_seen_through(self):
        self.write("mid/sub/Deep.cpp", '#include "../../top/Top.cpp"\n')
        rc, out = self.run_checker()
        self.assertEqual(rc, 1)
        self.assertIn("mid/sub/Deep.cpp:1:", out)

    def test_a_folder_missing_from_the_rules_fails(self):
        self.write("extra/Extra.cpp", '#include "base/Base.h"\n')
        rc, out = self.run_checker()
        self.assertEqual(rc, 1)
        self.assertIn("extra/: folder with sources not listed", out)

    def test_rules_that_form_a_cycle_fail(self):
        self.write("cmake/include_rules.txt", RULES.replace("mid: base", "mid: base top"))
        rc, out = self.run_checker()
        self.assertEqual(rc, 1)
        self.assertIn("cycle", out)

    def test_rules_naming_an_unknown_folder_fail(self):
        self.write("cmake/include_rules.txt", RULES.replace("mid: base", "mid: base nowhere"))
        rc, out = self.run_checker()
        self.assertEqual(rc, 1)
        self.assertIn("unknown folder nowhere", out)

    def logic_run(self, *sources):
        """The checker with mid/ as a logic library of the given sources and
        a fake widget toolkit (a folder holding QWidget, a named header)."""
        self.write("toolkit/QtWidgets/QWidget", "")
        self.write("logic_sources.txt", os.path.join(self.root, "mid") + "|" + "|".join(sources) + "\n")
        r = subprocess.run([sys.executable, CHECKER, self.root,
                            "--logic-sources", os.path.join(self.root, "logic_sources.txt"),
                            "--widget-dir", os.path.join(self.root, "toolkit/QtWidgets"),
                            "--widget-header", "qcustomplot.h"], capture_output=True, text=True)
        return r.returncode, r.stdout

    def test_logic_that_stays_clear_of_widgets_passes(self):
        self.write("cmake/include_rules.txt", RULES + "toolkit: *\n")
        self.write("mid/Mid.cpp", '#include "mid/Mid.h"\n#include <QString>\n')
        self.assertEqual(self.logic_run("Mid.cpp", "NotThere.cpp"), (0, ""))

    def test_logic_including_a_widget_header_fails(self):
        self.write("cmake/include_rules.txt", RULES + "toolkit: *\n")
        self.write("mid/Mid.cpp", '#include "mid/Mid.h"\n#include <QWidget>\n')
        rc, out = self.logic_run("Mid.cpp")
        self.assertEqual(rc, 1)
        self.assertIn("mid/Mid.cpp: logic library source reaches a widget header: <QWidget>", out)
        self.write("mid/Mid.cpp", '#include <QtWidgets/QMessageBox>\n')
        self.assertEqual(self.logic_run("Mid.cpp")[0], 1)
        self.write("mid/Mid.cpp", '#include <qcustomplot.h>\n')
        self.assertEqual(self.logic_run("Mid.cpp")[0], 1)

    def test_logic_reaching_a_widget_header_through_its_own_header_fails(self):
        self.write("cmake/include_rules.txt", RULES + "toolkit: *\n")
        self.write("mid/Form.h", '#pragma once\n#include <QWidget>\n')
        self.write("mid/Local.h", '#pragma once\n#include "Form.h"\n')
        self.write("mid/Mid.cpp", '#include "mid/Mid.h"\n')
        rc, out = self.logic_run("Mid.cpp")
        self.assertEqual(rc, 1)
        self.assertIn('"mid/Mid.h" -> "Local.h" -> "Form.h" -> <QWidget>', out)

    def test_unreadable_rules_are_an_error_of_their_own(self):
        os.remove(os.path.join(self.root, "cmake/include_rules.txt"))
        rc, _ = self.run_checker()
        self.assertEqual(rc, 2)


if __name__ == "__main__":
    unittest.main()
