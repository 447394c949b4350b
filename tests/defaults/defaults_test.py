"""halvex-defaults as a person or a script uses it: values it writes read back with plistlib and
the other way round, every value type, refusals with their exit status, and watch seeing a write
made by another process."""
import datetime
import json
import os
import plistlib
import select
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.environ["HALVEX_DEFAULTS"]
DOMAIN = "com.example.scripted"


class DefaultsTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.TemporaryDirectory()
        self.addCleanup(self.home.cleanup)
        self.folder = os.path.join(self.home.name, "Library", "Preferences")
        self.env = dict(os.environ, HALVEX_HOME=self.home.name)

    def run_tool(self, *args, stdin=None, status=0):
        result = subprocess.run([PROGRAM, *args], input=stdin, capture_output=True,
                                env=self.env, timeout=60)
        self.assertEqual(result.returncode, status, (args, result.stdout, result.stderr))
        return result

    def json_of(self, *args):
        return json.loads(self.run_tool("--json", *args).stdout)

    def stored(self, domain=DOMAIN):
        with open(os.path.join(self.folder, domain + ".plist"), "rb") as f:
            return plistlib.load(f)

    def test_plistlib_reads_what_it_writes(self):
        self.run_tool("write", DOMAIN, "text", "-string", "caf\u00e9 \"quoted\"")
        self.run_tool("write", DOMAIN, "count", "-int", "-42")
        self.run_tool("write", DOMAIN, "big", "-int", "18446744073709551615")
        self.run_tool("write", DOMAIN, "ratio", "-float", "2.5")
        self.run_tool("write", DOMAIN, "flag", "-bool", "YES")
        self.run_tool("write", DOMAIN, "when", "-date", "2024-02-29T12:34:56Z")
        self.run_tool("write", DOMAIN, "bytes", "-data", "00ff10")
        self.run_tool("write", DOMAIN, "list", "-array", "a", "-int", "1", "-bool", "no")
        self.run_tool("write", DOMAIN, "list", "-array-add", "-float", "0.5")
        self.run_tool("write", DOMAIN, "map", "-dict", "k", "v", "n", "-int", "3")
        self.run_tool("write", DOMAIN, "map", "-dict-add", "n", "-int", "4", "m", "(x, \"y z\")")
        self.run_tool("write", DOMAIN, "literal", '{ a = (1, <0a0b>); "b c" = { }; }')
        self.run_tool("write", DOMAIN, "xml", "<integer>5</integer>")
        self.run_tool("write", DOMAIN, "words", "two words, one string")
        stored = self.stored()
        self.assertEqual(stored, {
            "text": "caf\u00e9 \"quoted\"", "count": -42, "big": 18446744073709551615,
            "ratio": 2.5, "flag": True,
            "when": datetime.datetime(2024, 2, 29, 12, 34, 56),
            "bytes": b"\x00\xff\x10", "list": ["a", 1, False, 0.5],
            "map": {"k": "v", "n": 4, "m": ["x", "y z"]},
            "literal": {"a": ["1", b"\x0a\x0b"], "b c": {}}, "xml": 5,
            "words": "two words, one string"})
        self.assertIsInstance(stored["ratio"], float)
        types = {key: self.run_tool("read-type", DOMAIN, key).stdout.decode().strip()
                 for key in ("text", "count", "ratio", "flag", "when", "bytes", "list", "map")}
        self.assertEqual(types, {"text": "Type is string", "count": "Type is integer",
                                 "ratio": "Type is float", "flag": "Type is boolean",
                                 "when": "Type is date", "bytes": "Type is data",
                                 "list": "Type is array", "map": "Type is dictionary"})
        self.assertEqual(self.json_of("read", DOMAIN, "when"), "2024-02-29T12:34:56Z")

    def test_it_reads_what_plistlib_writes_in_both_forms(self):
        value = {"s": "\u00fcber", "i": 7, "neg": -3, "r": 0.25, "b": False,
                 "d": datetime.datetime(2020, 1, 2, 3, 4, 5), "data": b"\x01\x02",
                 "nested": {"list": [1, "two", {"three": True}]}}
        for form in (plistlib.FMT_XML, plistlib.FMT_BINARY):
            with self.subTest(form=form):
                path = os.path.join(self.home.name, "in.plist")
                with open(path, "wb") as f:
                    plistlib.dump(value, f, fmt=form)
                self.run_tool("import", DOMAIN, path)
                self.assertEqual(self.stored(), value)
                exported = plistlib.loads(self.run_tool("export", DOMAIN, "-").stdout)
                self.assertEqual(exported, value)
                self.assertEqual(self.json_of("read", DOMAIN, "nested"), value["nested"])
        # Import replaces the whole domain; standard input works too.
        self.run_tool("import", DOMAIN, "-", stdin=plistlib.dumps({"only": 1}))
        self.assertEqual(self.stored(), {"only": 1})
        self.assertEqual(self.json_of("domains"), [DOMAIN])

    def test_delete_and_rename(self):
        self.run_tool("import", DOMAIN, "-", stdin=plistlib.dumps({"a": 1, "b": 2, "c": 3}))
        self.run_tool("rename", DOMAIN, "a", "b")
        self.assertEqual(self.stored(), {"b": 1, "c": 3})
        self.run_tool("delete", DOMAIN, "c")
        self.assertEqual(self.stored(), {"b": 1})
        self.run_tool("delete", DOMAIN)
        self.run_tool("read", DOMAIN, status=1)
        self.assertEqual(self.json_of("domains"), [])
        self.assertFalse(os.path.exists(os.path.join(self.folder, DOMAIN + ".plist")))

    def test_reads_write_nothing_and_a_file_without_keys_is_a_domain(self):
        os.makedirs(self.folder)
        for args in (("read", "com.example.typo"), ("read-type", "com.example.typo", "k"),
                     ("delete", "com.example.typo")):
            self.run_tool(*args, status=1)
        self.assertEqual(os.listdir(self.folder), [])
        self.run_tool("write", DOMAIN, "k", "-int", "1")
        self.run_tool("delete", DOMAIN, "k")
        self.assertEqual(self.json_of("read", DOMAIN), {})
        self.assertEqual(self.json_of("domains"), [DOMAIN])

    def test_refusals_exit_with_status_one_and_write_nothing(self):
        self.run_tool("write", DOMAIN, "text", "-string", "kept")
        self.run_tool("write", DOMAIN, "n", "-int", "1")
        before = self.stored()
        not_plist = os.path.join(self.home.name, "not.plist")
        with open(not_plist, "wb") as f:
            f.write(b"this is not a property list")
        array_root = os.path.join(self.home.name, "array.plist")
        with open(array_root, "wb") as f:
            plistlib.dump([1, 2], f)
        refusals = [
            (("read", "com.example.missing"), "does not exist"),
            (("read", DOMAIN, "missing"), "does not exist"),
            (("read-type", DOMAIN, "missing"), "does not exist"),
            (("delete", DOMAIN, "missing"), "does not exist"),
            (("rename", DOMAIN, "missing", "other"), "does not exist"),
            (("export", "com.example.missing", "-"), "does not exist"),
            (("write", DOMAIN, "n", "-int", "12abc"), "is not an integer"),
            (("write", DOMAIN, "n", "-int", "99999999999999999999"), "is not an integer"),
            (("write", DOMAIN, "n", "-float", "nan"), "is not a finite number"),
            (("write", DOMAIN, "n", "-bool", "maybe"), "is not true, false, yes, no, 1 or 0"),
            (("write", DOMAIN, "n", "-date", "yesterday"), "is not a date"),
            (("write", DOMAIN, "n", "-data", "abc"), "is not hexadecimal"),
            (("write", DOMAIN, "n", "{ a = 1 "), "is not a property-list value"),
            (("write", DOMAIN, "n", "-dict", "lonely"), "has no value"),
            (("write", DOMAIN, "text", "-array-add", "x"), "not an array"),
            (("write", DOMAIN, "text", "-dict-add", "k", "v"), "not a dictionary"),
            (("import", DOMAIN, not_plist), "is not a property list"),
            (("import", DOMAIN, array_root), "not a dictionary"),
            (("import", DOMAIN, os.path.join(self.home.name, "absent.plist")), "cannot read"),
        ]
        for args, message in refusals:
            with self.subTest(args=args):
                result = self.run_tool(*args, status=1)
                self.assertIn(message, result.stderr.decode())
                self.assertEqual(result.stdout, b"")
        self.assertEqual(self.stored(), before)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "com.example.missing.plist")))
        for args in (("frobnicate",), ("read", "a", "b", "c"), ("--bogus", "domains"), ()):
            with self.subTest(args=args):
                self.assertIn(b"--help", self.run_tool(*args, status=2).stderr)

    def test_what_read_prints_write_takes_back(self):
        self.run_tool("write", DOMAIN, "when", "-date", "2024-01-02T03:04:05Z")
        printed = self.run_tool("read", DOMAIN, "when").stdout.decode().strip()
        self.assertEqual(printed, "2024-01-02 03:04:05 +0000")
        self.run_tool("write", DOMAIN, "again", "-date", printed)
        self.run_tool("write", DOMAIN, "shifted", "-date", "2024-01-02 04:34:05 +0130")
        self.assertEqual(self.stored()["again"], self.stored()["when"])
        self.assertEqual(self.stored()["shifted"], self.stored()["when"])
        help_text = self.run_tool("help").stdout.decode()
        self.assertTrue(help_text.startswith("usage: halvex-defaults"))

    def watch(self, *args):
        watcher = subprocess.Popen([PROGRAM, *args], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=self.env)
        self.addCleanup(watcher.stderr.close)
        self.addCleanup(watcher.stdout.close)
        self.addCleanup(watcher.wait)
        self.addCleanup(watcher.kill)
        self.assertIn(b"watching", watcher.stderr.readline())
        def next_line():
            ready, _, _ = select.select([watcher.stdout], [], [], 20)
            self.assertTrue(ready, "watch printed nothing within 20 s")
            return watcher.stdout.readline().decode()
        return next_line

    def test_watch_prints_one_line_per_change_written_by_another_process(self):
        self.run_tool("write", DOMAIN, "quiet", "-int", "0")
        as_json = self.watch("--json", "watch", DOMAIN, "watched")
        as_text = self.watch("watch", DOMAIN)

        self.run_tool("write", DOMAIN, "quiet", "-int", "1")  # another key: not printed
        self.assertEqual(as_text(), "quiet = 1\n")
        self.run_tool("write", DOMAIN, "watched", "-dict", "a", '(x, "y z")', "b", "-int", "1")
        self.assertEqual(json.loads(as_json()), {"key": "watched",
                                                 "value": {"a": ["x", "y z"], "b": 1}})
        self.assertEqual(as_text(), 'watched = { a = ( x, "y z" ); b = 1; }\n')
        self.run_tool("delete", DOMAIN, "watched")
        self.assertEqual(json.loads(as_json()), {"key": "watched", "value": None})
        self.assertEqual(as_text(), "watched deleted\n")

        # A writer that announces nothing: a plain copy of an older file over the domain.
        saved = os.path.join(self.home.name, "saved.plist")
        with open(os.path.join(self.folder, DOMAIN + ".plist"), "rb") as f:
            before = f.read()
        self.run_tool("write", DOMAIN, "quiet", "-int", "2")
        self.assertEqual(as_text(), "quiet = 2\n")
        with open(saved, "wb") as f:
            f.write(before)
        os.replace(saved, os.path.join(self.folder, DOMAIN + ".plist"))
        self.assertEqual(as_text(), "quiet = 1\n")

    def announcements_during(self, *writes):
        """The PlatformPreferencesChanged signals on the bus while `writes` run, in order."""
        monitor = subprocess.Popen(
            ["dbus-monitor", "--session", "type='signal',member='Post'"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(monitor.stdout.close)
        self.assertTrue(select.select([monitor.stdout], [], [], 20)[0])  # its own greeting
        for args, status in writes:
            self.run_tool(*args, status=status)
        # A marker after the writes: everything before it has reached the monitor.
        self.run_tool("write", "com.example.marker", "end", "-bool", "YES")
        seen = b""
        while b"com.example.marker" not in seen:
            self.assertTrue(select.select([monitor.stdout], [], [], 20)[0], seen)
            seen += os.read(monitor.stdout.fileno(), 65536)
        monitor.kill()
        monitor.wait()
        return seen.count(b"PlatformPreferencesChanged") - 1

    def test_each_stored_write_is_announced_once_and_a_refused_one_never(self):
        self.assertEqual(self.announcements_during(
            (("write", DOMAIN, "a", "-int", "1"), 0),
            (("write", DOMAIN, "a", "-int", "1"), 0),       # nothing to change
            (("write", DOMAIN, "a", "-array-add", "x"), 1),  # an integer is not an array
            (("delete", DOMAIN, "missing"), 1),
            (("rename", DOMAIN, "a", "b"), 0),
            (("delete", DOMAIN), 0)), 3)

    def test_a_write_nobody_could_be_told_of_is_stored_and_exits_four(self):
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.home.name, "none")
        result = self.run_tool("write", DOMAIN, "a", "-int", "5", status=4)
        self.assertIn(b"stored, but other programs were not told", result.stderr)
        self.assertEqual(self.stored()["a"], 5)

if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
