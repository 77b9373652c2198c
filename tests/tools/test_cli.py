"""End-to-end tests of the acekit program through its command line, without
a terminal: archives made from a generated tree, listed, tested, extracted,
compared, updated, deleted from and damaged."""

import calendar
import json
import os
import random
import re
import subprocess
import sys
import time
import zlib
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_harness as h  # noqa: E402


def names(listing):
    return {e["name"] for e in listing["entries"]}


class RoundTrip(h.TreeCase):
    CONFIGS = {
        "normal": [],
        "normal, 256 KB, level 3": ["-d", "256", "-m", "3"],
        "solid": ["-s"],
        "solid, 1024 KB, level 4": ["--solid", "--dictionary=1024", "--level", "4"],
    }

    def test_archive_list_test_extract(self):
        for label, options in self.CONFIGS.items():
            with self.subTest(label):
                archive = self.path(label.replace(" ", "_").replace(",", "") + ".ace")
                _, err = self.assertRuns("a", *options, "-C", self.tree, archive, ".")
                self.assertNotIn("\r", err, "no progress line without a terminal")

                listing = h.list_json(archive)
                self.assertEqual(names(listing), set(self.files) | h.TREE_DIRS)
                self.assertEqual(listing["solid"], "-s" in options or "--solid" in options)
                for e in listing["entries"]:
                    if e["directory"]:
                        continue
                    self.assertEqual(e["size"], len(self.files[e["name"]]), e["name"])
                    self.assertEqual(e["modified"], "2001-02-03T04:05:06", e["name"])
                    self.assertEqual(e["attr"] & 1, int(e["name"] == "readonly.txt"), e["name"])
                self.assertEqual(listing["totals"]["files"], len(self.files))
                self.assertEqual(listing["totals"]["directories"], len(h.TREE_DIRS))

                out, _ = self.assertRuns("t", archive)
                self.assertIn("no errors", out)
                out_dir = self.path("out-" + os.path.basename(archive))
                self.assertRuns("x", "-o", out_dir, archive)
                self.assertSameTree(out_dir)

    def test_text_listing_and_info(self):
        archive = self.archive_tree("-s", "-d", "512")
        out, _ = self.assertRuns("l", archive)
        for word in ("Date", "Attr", "Size", "Packed", "Ratio", "Name", "big.bin",
                     "docs/" + h.ACCENTED, "6 files, 4 directories", "2001-02-03 04:05:06"):
            self.assertIn(word, out)
        out, _ = self.assertRuns("i", archive)
        self.assertIn("Solid:           yes", out)
        self.assertIn("Dictionary:      512 KB", out)
        info = json.loads(self.assertRuns("i", "--json", archive)[0])
        listing = h.list_json(archive)
        self.assertEqual(info["totals"], listing["totals"])
        del listing["entries"]
        self.assertEqual(info, listing, "one schema")
        self.assertEqual((info["totals"]["files"], info["totals"]["directories"], info["solid"]),
                         (6, 4, True))
        self.assertEqual(info["totals"]["size"], sum(len(d) for d in self.files.values()))
        self.assertIsNone(info["comment"])

    def test_extract_without_paths_and_by_mask(self):
        archive = self.archive_tree()
        flat = self.path("flat")
        out, _ = self.assertRuns("e", "-o", flat, archive, "docs")
        self.assertIn("extracted 3 files", out)  # directory entries are not counted
        self.assertEqual(sorted(os.listdir(flat)),
                         sorted(["readme.txt", h.ACCENTED, "nested.c"]))
        one = self.path("one")
        self.assertRuns("x", "-o", one, archive, "DOCS/SUB/DEEP/NESTED.C")
        self.assertTrue(os.path.isfile(os.path.join(one, "docs/sub/deep/nested.c")))
        self.assertFalse(os.path.exists(os.path.join(one, "big.bin")))


class Masks(h.TreeCase):
    """Patterns on the command line work as a shell's do."""
    CASES = {
        "*.txt": {"readonly.txt", "docs/readme.txt", "docs/" + h.ACCENTED},  # in any folder
        "docs": {"docs/", "docs/readme.txt", "docs/" + h.ACCENTED, "docs/sub/", "docs/sub/deep/",
                 "docs/sub/deep/nested.c"},  # a folder selects its subtree
        "sub": {"docs/sub/", "docs/sub/deep/", "docs/sub/deep/nested.c"},
        "READ????.TXT": {"readonly.txt"},
        "*.b?n": {"big.bin", "empty.bin"},
        "empty_dir/": {"empty_dir/"},
    }

    def test_masks_select_as_documented(self):
        archive = self.archive_tree()
        for mask, expected in self.CASES.items():
            with self.subTest(mask):
                self.assertEqual(names(h.list_json(archive, mask)), expected)

    def test_a_pattern_that_matches_nothing_warns_in_every_command(self):
        archive = self.archive_tree()
        for command in (["l"], ["x", "-o", self.path("x")], ["e", "-o", self.path("e")], ["d"]):
            with self.subTest(command[0]):
                _, err = self.assertRuns(*command, archive, "*.txt", "nothing*", code=1)
                self.assertIn("no entry matches nothing*", err)
                self.assertNotIn("*.txt", err)
        self.assertRuns("l", archive, "*.txt", code=1)  # d took them


    def test_exclude_and_files_from(self):
        lists = {
            "lines": (b"docs\nreadonly.txt\n", []),
            "nul": (b"docs\0big.bin\0", ["--null"]),
        }
        for label, (listing, extra) in lists.items():
            with self.subTest(label):
                list_file = self.path(label + ".list")
                h.write(list_file, listing)
                archive = self.path(label + ".ace")
                self.assertRuns("a", "-C", self.tree, "--exclude", "*.c", "--exclude=sub",
                                "-T", list_file, *extra, archive)
                expected = {"docs/", "docs/readme.txt", "docs/" + h.ACCENTED,
                            listing.split(b"\0" if extra else b"\n")[1].decode()}
                self.assertEqual(names(h.list_json(archive)), expected)
        archive = self.path("stdin.ace")
        self.assertRuns("a", "-C", self.tree, "--files-from", "-", archive, input=b"docs\n")
        self.assertIn("docs/sub/deep/nested.c", names(h.list_json(archive)))
        self.assertEqual(names(h.list_json(archive, "--exclude", "docs/sub")),
                         {"docs/", "docs/readme.txt", "docs/" + h.ACCENTED})
        out = self.path("out")
        self.assertRuns("x", "-o", out, "--exclude", "*.txt", archive)
        self.assertEqual(sorted(os.listdir(os.path.join(out, "docs"))), ["sub"])
        self.assertRuns("d", "--exclude", "*.c", archive, "sub")
        self.assertEqual(names(h.list_json(archive, "sub")), {"docs/sub/deep/nested.c"})


class StandardStreams(h.TreeCase):
    def test_archive_from_standard_input_and_contents_to_standard_output(self):
        archive = self.archive_tree("-s", name="s.ace", inputs=["docs", "readonly.txt"])
        data = h.read(archive)
        listed, _ = self.assertRuns("l", "-", input=data)
        self.assertIn("docs/sub/deep/nested.c", listed)
        self.assertNotIn("acekit-", listed)  # no temporary path shows
        said, _ = self.assertRuns("t", "-", input=data)
        self.assertIn("-: 4 files tested, no errors", said)
        out = self.path("out")
        self.assertRuns("x", "-o", out, "-", input=data)
        self.assertSameTree(out, {k: v for k, v in self.files.items()
                                  if k.startswith("docs/") or k == "readonly.txt"},
                            {"docs/", "docs/sub/", "docs/sub/deep/"})
        code, contents, _ = h.run("x", "-p", archive, "*.c", "readonly.txt")
        self.assertEqual(code, 0)
        c, r = self.files["docs/sub/deep/nested.c"], self.files["readonly.txt"]
        self.assertIn(contents.encode(), (c + r, r + c))  # in archive order
        _, err = self.assertRuns("x", "--stdout", "-", "nothing", input=data, code=1)
        self.assertIn("no entry matches nothing", err)
        _, err = self.assertRuns("l", "-", input=b"not an archive" * 100, code=2)
        self.assertIn("-: not an archive", err)

    def test_new_archive_to_standard_output(self):
        made = subprocess.run([h.ACEKIT, "a", "-s", "-C", self.tree, "-", "docs"],
                              capture_output=True, stdin=subprocess.DEVNULL, timeout=600)
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertIn(b"-: created with", made.stderr)  # messages stay off the archive
        self.assertNotIn(b"acekit-", made.stderr)
        archive = self.path("piped.ace")
        h.write(archive, made.stdout)
        self.assertRuns("t", archive)
        self.assertIn("docs/sub/deep/nested.c", names(h.list_json(archive)))


class StoredNames(h.TreeCase):
    def test_names_follow_the_inputs(self):
        """An absolute path loses its leading slash, a relative one keeps its
        cleaned directories, and -C reads inputs there but names the archive
        from here."""
        absolute = self.tree.lstrip("/") + "/docs/sub/"
        for i, (options, inputs, expected) in enumerate((
                ([], [os.path.join(self.tree, "docs", "sub")],
                 {absolute, absolute + "deep/", absolute + "deep/nested.c"}),
                ([], ["tree/./docs/sub/../sub/deep"],
                 {"tree/docs/sub/deep/", "tree/docs/sub/deep/nested.c"}),
                (["-C", "tree"], ["docs/sub"],
                 {"docs/sub/", "docs/sub/deep/", "docs/sub/deep/nested.c"}))):
            with self.subTest(inputs=inputs):
                self.assertRuns("a", *options, "n%d.ace" % i, *inputs, cwd=self.tmp)
                self.assertEqual(names(h.list_json(self.path("n%d.ace" % i))), expected)

    def test_names_only_stores_bare_file_names(self):
        archive = self.archive_tree("--names-only", inputs=["docs"])
        self.assertEqual(names(h.list_json(archive)), {"readme.txt", h.ACCENTED, "nested.c"})
        # The archive would match the old entry by the input's full path and
        # keep both: replacing under a bare name is refused.
        before = h.read(archive)
        _, err = self.assertRuns("a", "--names-only", "-C", self.tree, archive,
                                 "docs/readme.txt", code=2)
        self.assertIn("readme.txt", err)
        self.assertEqual(h.read(archive), before)

    def test_two_inputs_under_one_name_skip_the_second_and_case_variants_stay(self):
        h.write(os.path.join(self.tree, "docs", "sub", "readme.txt"), b"second\n")
        archive = self.path("a.ace")
        _, err = self.assertRuns("a", "--names-only", "-C", self.tree, archive, "docs", code=1)
        self.assertIn("docs/sub/readme.txt is left out", err)
        self.assertEqual(h.read(os.path.join(self.tree, "docs/readme.txt")),
                         self.files["docs/readme.txt"])
        _, err = self.assertRuns("a", "--names-only", "--strict", "-C", self.tree,
                                 self.path("b.ace"), "docs", code=2)
        self.assertFalse(os.path.exists(self.path("b.ace")))
        for rel in ("inc/xt_CONNMARK.h", "inc/xt_connmark.h", "inc/A.c", "inc/a.c"):
            h.write(os.path.join(self.tree, rel), rel.encode())
        cased = self.path("cased.ace")
        _, err = self.assertRuns("a", "-C", self.tree, cased, "inc")
        self.assertEqual(err.count("differ only in case"), 1, err)
        self.assertEqual(names(h.list_json(cased)),
                         {"inc/", "inc/xt_CONNMARK.h", "inc/xt_connmark.h", "inc/A.c", "inc/a.c"})
        out = self.path("out")
        self.assertRuns("x", "-o", out, cased)
        self.assertEqual(h.read(os.path.join(out, "inc/xt_CONNMARK.h")), b"inc/xt_CONNMARK.h")

    def test_paths_above_the_working_directory_are_refused(self):
        archive = self.path("a.ace")
        _, err = self.assertRuns("a", archive, "../x", cwd=self.tree, code=2)
        self.assertIn("-C", err)
        self.assertFalse(os.path.exists(archive))


class Changes(h.TreeCase):
    def test_update_replaces_and_adds_without_duplicating_directories(self):
        for solid in ([], ["-s"]):
            with self.subTest(solid=bool(solid)):
                archive = self.archive_tree(*solid, name="u%d.ace" % len(solid))
                readme = os.path.join(self.tree, "docs", "readme.txt")
                h.write(readme, b"rewritten\n")
                os.utime(readme, (h.NEWER_TIME, h.NEWER_TIME))
                h.write(os.path.join(self.tree, "added.txt"), b"new file\n")
                self.assertRuns("a", "-C", self.tree, archive, "docs", "added.txt")
                listing = h.list_json(archive)
                by_name = {}
                for e in listing["entries"]:
                    self.assertNotIn(e["name"], by_name, "one entry per name")
                    by_name[e["name"]] = e
                self.assertEqual(by_name["docs/readme.txt"]["size"], 10)
                self.assertEqual(by_name["docs/readme.txt"]["modified"], "2010-01-02T03:04:04")
                self.assertIn("added.txt", by_name)
                self.assertLessEqual(h.TREE_DIRS, set(by_name), "directories stay listed")
                self.assertRuns("t", archive)
                os.remove(os.path.join(self.tree, "added.txt"))
                self.files["docs/readme.txt"] = b"rewritten\n"

    def test_deleting_from_a_solid_archive_keeps_directories_and_window(self):
        archive = self.archive_tree("-s", "-d", "256", "-m", "4", name="s.ace")
        before = h.list_json(archive)["entries"]
        out, _ = self.assertRuns("d", archive, "readonly.txt")
        self.assertIn("deleted 1 entry", out)
        after = h.list_json(archive)["entries"]
        self.assertEqual({e["name"] for e in after if e["directory"]},
                         {e["name"] for e in before if e["directory"]})
        self.assertEqual({e["dictionary_kb"] for e in after if not e["directory"]}, {256})
        self.assertRuns("d", "-m", "4", archive, "empty.bin")
        # A window given is the one the rebuild takes, for d and for a.
        self.assertRuns("d", "-d", "128", archive, "docs/sub")
        windows = lambda: {e["dictionary_kb"] for e in h.list_json(archive)["entries"]
                           if not e["directory"]}
        self.assertEqual(windows(), {128})
        self.assertRuns("a", "-d", "512", "-C", self.tree, archive, "big.bin")
        self.assertEqual(windows(), {512})
        self.assertRuns("t", archive)
        _, err = self.assertRuns("d", "-m", "9", archive, "big.bin", code=2)
        self.assertIn("--level", err)

    def test_solid_rebuilds_keep_the_level_and_the_directories(self):
        def packed(archive):
            return sum(e["packed"] for e in h.list_json(archive)["entries"])

        def fresh(name, *options, inputs):
            return packed(self.archive_tree("-s", *options, name=name, inputs=inputs))

        rest = ["docs", "big.bin", "empty.bin", "empty_dir"]
        archive = self.archive_tree("-s", "-m", "4", name="m4.ace")
        size = os.path.getsize(archive)
        self.assertRuns("d", archive, "readonly.txt")
        self.assertLessEqual(os.path.getsize(archive), size)
        self.assertEqual(packed(archive), fresh("f4.ace", "-m", "4", inputs=rest))
        self.assertNotEqual(packed(archive), fresh("f1.ace", inputs=rest), "levels differ")
        self.assertRuns("d", "-m", "1", archive, "empty.bin")
        self.assertEqual(packed(archive), fresh("g1.ace", inputs=rest[:2] + rest[3:]))

        # Adding from elsewhere: the directories are not on disk there.
        archive = self.archive_tree("-s", "-m", "4", name="a4.ace", inputs=rest)
        before = h.list_json(archive)["entries"]
        self.assertRuns("a", archive, "readonly.txt", cwd=self.tree)
        self.assertEqual(packed(archive), fresh("b4.ace", "-m", "4", inputs=["."]))
        self.assertEqual(names(h.list_json(archive)), set(self.files) | h.TREE_DIRS)
        h.write(self.path("added.txt"), b"added\n")
        _, err = self.assertRuns("a", archive, "added.txt", cwd=self.tmp)
        self.assertEqual(err, "")
        after = {e["name"] for e in h.list_json(archive)["entries"] if e["directory"]}
        self.assertEqual(after, {e["name"] for e in before if e["directory"]})

    def test_deleting_every_entry_is_refused(self):
        archive = self.archive_tree(inputs=["docs/sub"])
        before = h.read(archive)
        _, err = self.assertRuns("d", archive, "*", code=2)
        self.assertIn("remove the file", err)
        self.assertEqual(h.read(archive), before)
        _, err = self.assertRuns("d", archive, "nothing.here", code=1)
        self.assertIn("nothing.here", err)


class Threads(h.TreeCase):
    def test_the_thread_count_does_not_change_the_archive(self):
        for solid in ([], ["-s"]):
            made = set()
            for i, option in enumerate((["-T1"], ["--threads=3"], ["-T", "3"], ["-T0"])):
                with self.subTest(solid=bool(solid), option=option):
                    archive = self.archive_tree(*solid, "-m", "2", *option,
                                                name="t%d%d.ace" % (len(solid), i))
                    # The main header carries the time the archive was made.
                    data = h.read(archive)
                    made.add(data[4 + int.from_bytes(data[2:4], "little"):])
                    out_dir = self.path("out%d%d" % (len(solid), i))
                    self.assertRuns("x", *option, "-o", out_dir, archive)
                    self.assertSameTree(out_dir)
                    self.assertIn("no errors", self.assertRuns("t", *option, archive)[0])
            self.assertEqual(len(made), 1, "byte-identical whatever the thread count")

    def test_t_with_digits_is_a_count_and_otherwise_a_list(self):
        h.write(os.path.join(self.tree, "4"), "docs/readme.txt\n")
        h.write(os.path.join(self.tree, "list"), "empty.bin\n")
        for args, stored in ((["--files-from", "4"], {"docs/readme.txt"}),
                             (["-T", "./4"], {"docs/readme.txt"}),
                             (["-T", "list"], {"empty.bin"}),
                             (["-T2", "--files-from", "list"], {"empty.bin"})):
            with self.subTest(args=args):
                archive = self.path("l.ace")
                if os.path.exists(archive):
                    os.remove(archive)
                self.assertRuns("a", archive, *args, cwd=self.tree)
                self.assertEqual(names(h.list_json(archive)), stored)
        _, err = self.assertRuns("a", self.path("n.ace"), "-T", "4", cwd=self.tree, code=2)
        self.assertIn("no paths", err)
        for args in (["t", "-T", "./4"], ["x", "--threads=many"], ["a", "--threads", "-1"]):
            with self.subTest(args=args):
                _, err = self.assertRuns(*args, self.path("l.ace"), code=2)
                self.assertIn("threads", err)


class CommentsAndDirectories(h.TreeCase):
    MAIN = "Archiv für Grüße\nsecond line\n"

    def setUp(self):
        super().setUp()
        self.archive = self.archive_tree()
        self.comment_file = self.path("comment.txt")
        h.write(self.comment_file, self.MAIN)

    def test_comments_round_trip_and_survive_changes(self):
        self.assertRuns("c", self.archive, "--set", self.comment_file)
        out, _ = self.assertRuns("c", self.archive)
        self.assertEqual(out, self.MAIN)
        self.assertRuns("cf", self.archive, "big.bin", "DOCS/README.TXT", "--set", "-",
                        input="note é\n".encode())

        listing = h.list_json(self.archive)
        self.assertEqual(listing["comment"], self.MAIN)
        comments = {e["name"]: e["comment"] for e in listing["entries"] if e["comment"]}
        self.assertEqual(comments, {"big.bin": "note é\n", "docs/readme.txt": "note é\n"})
        out, _ = self.assertRuns("l", "-v", self.archive)
        self.assertIn("comment: note é", out)
        self.assertIn("second line", out)
        info = json.loads(self.assertRuns("i", "--json", self.archive)[0])
        self.assertEqual((info["comment"], info["file_comments"]), (self.MAIN, True))

        # Comments stay through an update and a deletion.
        self.assertRuns("a", "-C", self.tree, self.archive, "readonly.txt")
        self.assertRuns("d", self.archive, "empty.bin")
        listing = h.list_json(self.archive)
        self.assertEqual(listing["comment"], self.MAIN)
        self.assertEqual(sum(1 for e in listing["entries"] if e["comment"]), 2)

        self.assertRuns("c", self.archive, "--remove")
        self.assertRuns("cf", self.archive, "big.bin", "--remove")
        listing = h.list_json(self.archive)
        self.assertIsNone(listing["comment"])
        self.assertEqual([e["name"] for e in listing["entries"] if e["comment"]],
                         ["docs/readme.txt"])
        self.assertRuns("t", self.archive)
        out_dir = self.path("out")
        self.assertRuns("x", "-o", out_dir, self.archive)
        del self.files["empty.bin"]
        self.assertSameTree(out_dir)

    def test_comment_limits_leave_the_archive_unchanged(self):
        before = h.read(self.archive)
        for command, size in (("c", 32767), ("cf", 4097)):
            with self.subTest(command):
                big = self.path("big-comment.txt")
                h.write(big, "x" * size)
                names = ["big.bin"] if command == "cf" else []
                _, err = self.assertRuns(command, self.archive, *names, "--set", big, code=2)
                self.assertIn(str(size - 1), err)
                self.assertEqual(h.read(self.archive), before)
        _, err = self.assertRuns("cf", self.archive, "no/such.file", "--set", self.comment_file,
                                 code=2)
        self.assertIn("no/such.file", err)
        self.assertEqual(h.read(self.archive), before)

    def test_empty_directory_entries(self):
        for name in ("docs/drafts", "a/b/c"):
            self.assertRuns("md", self.archive, name)
            entry = [e for e in h.list_json(self.archive)["entries"] if e["name"] == name + "/"]
            self.assertEqual(len(entry), 1)
            self.assertTrue(entry[0]["directory"])
        before = h.read(self.archive)
        for name, message in (("DOCS/Drafts", "already"), ("bad?name", "not a valid"),
                              ("con", "not a valid"), ("../up", "relative")):
            with self.subTest(name):
                _, err = self.assertRuns("md", self.archive, name, code=2)
                self.assertIn(message, err)
                self.assertEqual(h.read(self.archive), before)
        out_dir = self.path("out")
        self.assertRuns("x", "-o", out_dir, self.archive)
        self.assertTrue(os.path.isdir(os.path.join(out_dir, "docs", "drafts")))
        self.assertTrue(os.path.isdir(os.path.join(out_dir, "a", "b", "c")))


class Overwrite(h.TreeCase):
    def test_existing_files_kept_and_reported_kept_quietly_or_overwritten(self):
        self.extract_and_change(("docs/readme.txt", "readonly.txt"), b"local change\n")
        os.chmod(os.path.join(self.out, "readonly.txt"), 0o444)
        _, err = self.assertRuns("x", "-o", self.out, self.archive, code=1)  # no terminal
        self.assertIn("docs/readme.txt", err)
        self.assertRuns("x", "-n", "-o", self.out, self.archive)
        for rel in ("docs/readme.txt", "readonly.txt"):
            self.assertEqual(h.read(os.path.join(self.out, rel)), b"local change\n")
        self.assertRuns("x", "-y", "-o", self.out, self.archive)  # read-only ones too
        self.assertSameTree(self.out)


class Failures(h.TreeCase):
    def test_missing_and_foreign_archives(self):
        for name, content, message in (("missing.ace", None, "No such file"),
                                       ("text.ace", b"just some text\n" * 10, "not an archive")):
            path = self.path(name)
            if content is not None:
                h.write(path, content)
            for command in ("l", "t", "x", "i"):
                with self.subTest(name=name, command=command):
                    _, err = self.assertRuns(command, path, code=2)
                    self.assertIn(name, err)
                    self.assertIn(message, err)
                    self.assertEqual(len(err.strip().splitlines()), 1, err)

    def test_damaged_entries_are_named_with_exit_3(self):
        for solid in ([], ["-s"]):
            with self.subTest(solid=bool(solid)):
                archive = self.archive_tree(*solid, name="bad%d.ace" % len(solid),
                                            inputs=["big.bin", "docs"])
                # The compressed half of big.bin, then the data of nested.c.
                h.patch(archive, b"big.bin", 2000)
                if not solid:
                    h.patch(archive, b"nested.c", 40)
                _, err = self.assertRuns("t", archive, code=3)
                self.assertIn("big.bin", err)
                if not solid:
                    self.assertIn("docs/sub/deep/nested.c", err, "testing goes on after damage")
                _, err = self.assertRuns("x", "-o", self.path("o%d" % len(solid)), archive,
                                         code=3)
                self.assertIn("big.bin", err)
                if solid:
                    # Adding to a solid archive unpacks every entry first.
                    before = h.read(archive)
                    _, err = self.assertRuns("a", "-s", "-C", self.tree, archive, "readonly.txt",
                                             code=3)
                    self.assertIn("(at big.bin)", err)
                    _, err = self.assertRuns("d", archive, "docs/*.*", code=3)
                    self.assertIn("(at big.bin)", err)
                    self.assertEqual(h.read(archive), before)

    def test_names_leading_outside_the_output_directory_are_not_extracted(self):
        h.write(os.path.join(self.tree, "aa", "evil.txt"), b"escaped\n")
        archive = self.archive_tree(name="hostile.ace", inputs=["readonly.txt", "aa/evil.txt"])
        h.patch(archive, b"aa\\evil.txt", 0, b"..")  # the walk does not check header checksums
        out_dir = self.path("out", "inner")
        _, err = self.assertRuns("x", "-o", out_dir, archive, code=1)
        self.assertIn("../evil.txt", err)
        self.assertTrue(os.path.isfile(os.path.join(out_dir, "readonly.txt")))
        self.assertFalse(os.path.exists(self.path("out", "evil.txt")))

    def test_links_in_the_output_directory_are_refused_and_the_rest_extracted(self):
        archive = self.archive_tree(name="links.ace", inputs=["readonly.txt", "docs", "big.bin"])
        outside = self.path("outside")
        os.makedirs(outside)
        for solid in (False, True):
            with self.subTest(solid=solid):
                if solid:
                    archive = self.archive_tree("-s", name="links_s.ace",
                                                inputs=["readonly.txt", "docs", "big.bin"])
                out_dir = self.path("out%d" % solid)
                os.makedirs(out_dir)
                os.symlink(outside, os.path.join(out_dir, "docs"))
                _, err = self.assertRuns("x", "-o", out_dir, archive, code=1)
                self.assertIn("refused: %s is a symbolic link" % os.path.join(out_dir, "docs"),
                              err)
                self.assertIn("docs/readme.txt", err)
                self.assertEqual(os.listdir(outside), [])
                for rel in ("readonly.txt", "big.bin"):  # before and after the refused ones
                    self.assertTrue(os.path.isfile(os.path.join(out_dir, rel)), rel)

    def test_usage_mistakes(self):
        archive = self.path("a.ace")
        for args in (["a", "-d", "100", archive, "tree"], ["a", "-m", "5", archive, "tree"],
                     ["l", "--bogus", archive], ["x", "-y", "-n", archive], ["nope"], ["a", archive]):
            with self.subTest(args=args):
                _, err = self.assertRuns(*args, code=2, cwd=self.tmp)
                self.assertTrue(err.startswith("acekit: "), err)
        self.assertFalse(os.path.exists(archive))

    def test_vanished_file_is_left_out_or_fails_with_strict(self):
        h.write(os.path.join(self.tree, "a_big.bin"), os.urandom(8 << 20))
        victim = os.path.join(self.tree, "z_victim.txt")
        for strict in ([], ["--strict"]):
            with self.subTest(strict=bool(strict)):
                h.write(victim, b"here now\n")
                archive = self.path("v%d.ace" % len(strict))
                p = subprocess.Popen([h.ACEKIT, "a", *strict, "-C", self.tree, archive,
                                      "a_big.bin", "z_victim.txt"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                # The archive is written under a temporary name beside it.
                while (not any(n.startswith(".acekit-") for n in os.listdir(self.tmp))
                       and p.poll() is None):
                    time.sleep(0.001)
                os.remove(victim)
                _, err = p.communicate(timeout=600)
                err = err.decode()
                h.check_sanitizers(err)
                self.assertIn("z_victim.txt", err)
                if strict:
                    self.assertEqual(p.returncode, 2, err)
                    self.assertFalse(os.path.exists(archive))
                else:
                    self.assertEqual(p.returncode, 1, err)
                    self.assertEqual(names(h.list_json(archive)), {"a_big.bin"})


class LongPaths(h.TreeCase):
    """Names are extracted whole under output paths past what a Windows path
    holds, and a path past what the system holds is refused by name."""

    @staticmethod
    def levels(length):
        """Directory levels of up to 40 characters, `length` in all."""
        parts, c = [], ord("a")
        while length - sum(len(p) + 1 for p in parts) > 41:
            parts.append(chr(c) * 40)
            c += 1
        return "/".join(parts + [chr(c) * (length - sum(len(p) + 1 for p in parts))])

    def test_full_names_or_a_named_refusal(self):
        stored = self.levels(190) + "/file.txt"
        self.assertEqual(len(stored), 199)
        data = b"a long way down\n" * 300
        h.write(os.path.join(self.tree, stored), data)
        archive = self.archive_tree(name="long.ace", inputs=[stored])

        out_dir = os.path.join(self.tmp, "o" + self.levels(168 - len(self.tmp)))
        self.assertEqual(len(out_dir), 170)
        self.assertRuns("x", "-o", out_dir, archive)
        self.assertEqual(h.read(os.path.join(out_dir, stored)), data)

        # One character past the limit: nothing is made on the way to it.
        too_far = os.path.join(self.tmp, "p" + self.levels(4096 - 202 - len(self.tmp)))
        self.assertEqual(len(too_far) + 1 + len(stored), 4096)
        _, err = self.assertRuns("x", "-o", too_far, archive, code=2)
        self.assertIn(stored, err)
        self.assertIn("longer than 4095", err)
        self.assertEqual([n for n in os.listdir(self.tmp) if n.startswith("p")], [])

    def test_relative_output_path_is_made_level_by_level(self):
        archive = self.archive_tree(name="rel.ace", inputs=["docs"])
        self.assertRuns("x", "-o", "new/deeper", archive, cwd=self.tmp)
        self.assertEqual(h.read(self.path("new", "deeper", "docs", "readme.txt")),
                         self.files["docs/readme.txt"])


class ScreenNames(h.TreeCase):
    # Names that would move the cursor or hide their own start if printed raw.
    NAMES = {"x\x1b[2K\x1b[1Gnormal.txt": "x\\e[2K\\e[1Gnormal.txt",
             "bashrc\rreadme\x7f.txt": "bashrc\\rreadme\\x7f.txt"}

    def test_control_characters_are_escaped_on_screen_and_kept_in_json(self):
        src = self.path("odd")
        for raw in self.NAMES:
            h.write(os.path.join(src, raw), b"data\n")
        h.write(os.path.join(src, "back\\slash\x1b.txt"), b"left out\n")
        archive = self.path("odd.ace")
        _, err = self.assertRuns("a", "-C", src, archive, ".", code=1)
        self.assertIn("back\\\\slash\\e.txt: its name holds a backslash", err)
        self.assertEqual(names(h.list_json(archive)), set(self.NAMES))
        out, _ = self.assertRuns("l", archive)
        out_dir = self.path("out")
        self.assertRuns("x", "-o", out_dir, archive)
        _, err = self.assertRuns("x", "-o", out_dir, archive, code=1)  # kept, with a warning
        for raw, shown in self.NAMES.items():
            self.assertIn(shown, out)
            self.assertIn(shown, err)
        for text in (out, err):
            self.assertNotIn("\x1b", text)
            self.assertNotIn("\r", text)
            self.assertNotIn("\x7f", text)


class CommandLine(h.TreeCase):
    def test_options_before_the_command_and_extra_operands(self):
        archive = self.archive_tree()
        out, _ = self.assertRuns("-q", "x", "-o", self.path("q"), archive)
        self.assertEqual(out, "")
        self.assertRuns("-o", self.path("o"), "-y", "x", archive)
        self.assertSameTree(self.path("o"))
        for args in (["t", archive, "extra"], ["i", archive, "extra"], ["c", archive, "extra"],
                     ["-q", "t", archive, archive]):
            with self.subTest(args=args):
                _, err = self.assertRuns(*args, code=2)
                self.assertIn("unexpected operand", err)
        self.assertRegex(h.run("--version")[1], r"^acekit \d+\.\d+\.\d+ \(library \d+\.\d+")

    def test_directory_option_applies_to_the_paths_after_it(self):
        archive = self.path("c.ace")
        self.assertRuns("a", archive, "-C", self.path("tree", "docs"), "sub", "-C", "..",
                        "empty.bin", cwd=self.tmp)
        self.assertEqual(names(h.list_json(archive)),
                         {"sub/", "sub/deep/", "sub/deep/nested.c", "empty.bin"})
        _, err = self.assertRuns("a", self.path("d.ace"), "tree", "-C", "tree", code=2,
                                 cwd=self.tmp)
        self.assertIn("-C", err)
        self.assertFalse(os.path.exists(self.path("d.ace")))


class Verbosity(h.TreeCase):
    def test_no_is_a_choice_quiet_hides_warnings_verbose_names_each_file(self):
        archive = self.path("a.ace")
        out, _ = self.assertRuns("a", "-v", "-C", self.tree, archive, ".")
        listed = out.splitlines()[:-1]
        self.assertEqual(set(listed), set(self.files) | h.TREE_DIRS)
        self.assertLess(listed.index("docs/"), listed.index("docs/readme.txt"))
        out_dir = self.path("out")
        out, _ = self.assertRuns("x", "-v", "-o", out_dir, archive, "docs/sub/deep/nested.c")
        self.assertEqual(out.splitlines()[0], "docs/sub/deep/nested.c")
        self.assertRuns("x", "-o", out_dir, archive, code=1)
        out, _ = self.assertRuns("t", "--verbose", archive)
        self.assertEqual(set(out.splitlines()[:-1]), set(self.files))
        for command in ("x", "e"):
            with self.subTest(command):
                out, err = self.assertRuns(command, "-n", "-o", out_dir, archive)
                self.assertEqual(err, "")
                self.assertEqual(len(out.splitlines()), 1, out)
                self.assertIn("kept", out)
                out, err = self.assertRuns("-q", command, "-o", out_dir, archive, code=1)
                self.assertEqual((out, err), ("", ""))
        _, err = self.assertRuns("-q", "l", self.path("missing.ace"), code=2)
        self.assertIn("missing.ace", err)


class Numbers(h.TreeCase):
    @staticmethod
    def claim_size(archive, name, size):
        """Makes the header of entry `name` claim `size` bytes, with its
        header checksum made right again."""
        data = bytearray(h.read(archive))
        start = data.index(name.encode()) - 35
        data[start + 11:start + 15] = size.to_bytes(4, "little")
        head_size = int.from_bytes(data[start + 2:start + 4], "little")
        crc = ~zlib.crc32(bytes(data[start + 4:start + 4 + head_size])) & 0xFFFF
        data[start:start + 2] = crc.to_bytes(2, "little")
        h.write(archive, bytes(data))

    def test_sizes_in_64_bits_one_ratio_host_names_and_singulars(self):
        # Three entries that say they hold 2 GiB less a byte each.
        src = self.path("big")
        entry_names = ["file_%s.dat" % c for c in "abc"]
        for name in entry_names:
            h.write(os.path.join(src, name), b"x" * 100)
        archive = self.path("big.ace")
        self.assertRuns("a", "-q", "-C", src, archive, ".")
        for name in entry_names:
            self.claim_size(archive, name, (2 << 30) - 1)
        out, _ = self.assertRuns("i", archive)
        self.assertIn("6.0 GiB", out)
        self.assertIn("Host system:     MS-DOS", out)
        info = json.loads(self.assertRuns("i", "--json", archive)[0])
        listing = h.list_json(archive)
        self.assertEqual(info["totals"]["size"], 3 * ((2 << 30) - 1))
        self.assertEqual(info["totals"], listing["totals"])
        self.assertEqual(info["host_system"], "MS-DOS")
        # 0.4 % of one entry rounds to 0, and so do three of them together.
        self.assertEqual([e["ratio"] for e in listing["entries"]], [0, 0, 0])
        self.assertIn("Ratio:           0%", out)

        small = self.archive_tree(name="one.ace", inputs=("docs/sub",))
        out, _ = self.assertRuns("l", small)
        self.assertIn("1 file, 2 directories", out)
        out, _ = self.assertRuns("i", small)
        self.assertIn("(1 file, 2 directories)", out)


class DirectoryTimes(h.TreeCase):
    def test_directory_entries_have_dates_and_give_them_back(self):
        archive = self.archive_tree()
        now = time.time()
        dates = {e["name"]: e["modified"] for e in h.list_json(archive)["entries"]
                 if e["directory"]}
        self.assertEqual(set(dates), h.TREE_DIRS)
        for name, modified in dates.items():
            when = calendar.timegm(time.strptime(modified, "%Y-%m-%dT%H:%M:%S"))  # TZ=UTC
            self.assertLess(abs(when - now), 86400, name)
        # Later than the entries' two-second steps, so that only a restored
        # time can match.
        time.sleep(2.5)
        out_dir = self.path("out")
        self.assertRuns("x", "-o", out_dir, archive)
        for name, modified in dates.items():
            when = calendar.timegm(time.strptime(modified, "%Y-%m-%dT%H:%M:%S"))
            self.assertEqual(os.stat(os.path.join(out_dir, name)).st_mtime, when, name)


class Messages(h.TreeCase):
    def test_errors_name_the_path_and_the_reason_never_a_working_copy(self):
        os.symlink("loop_b", os.path.join(self.tree, "loop_a"))
        os.symlink("loop_a", os.path.join(self.tree, "loop_b"))
        archive = self.path("a.ace")
        _, err = self.assertRuns("a", "-s", "-C", self.tree, archive, ".", code=1)
        self.assertIn("loop_a: a link loop", err)
        _, err = self.assertRuns("a", "-C", self.tree, self.path("b.ace"), "loop_b", code=2)
        self.assertIn("loop_b: a link loop", err)
        _, err = self.assertRuns("a", archive, self.path("missing"), code=2)
        self.assertIn("missing: No such file or directory", err)

        h.write(self.path("plain"), b"a file\n")
        _, err = self.assertRuns("x", "-o", self.path("plain", "sub"), archive, code=2)
        self.assertIn("plain is not a directory", err)

        # A solid archive is rebuilt through working copies in the temporary
        # directory; what is shown is the entries' names.
        scratch = self.path("scratch")
        os.mkdir(scratch)
        env = {"TMPDIR": scratch}
        for args, listed in ((["a", "-v", "-s", "-C", self.tree, archive, "readonly.txt"],
                              "readonly.txt"),
                             (["d", "-v", archive, "empty.bin"], "empty.bin")):
            code, out, err = h.run(*args, env=env)
            self.assertLessEqual(code, 1, err)
            self.assertIn(listed, out.splitlines())
            self.assertNotIn(scratch, out + err)
            self.assertNotIn(scratch.lstrip("/"), out + err)


class Completion(h.TreeCase):
    SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                          "tools", "completion", "acekit.bash")

    def complete(self, *words):
        """What the bash completion offers for the last of `words`."""
        script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _acekit; '
                  'printf "%s\\n" "${COMPREPLY[@]}"')
        env = dict(os.environ, PATH=os.path.dirname(h.ACEKIT) + os.pathsep + os.environ["PATH"])
        p = subprocess.run(["bash", "-c", script, "bash", self.SCRIPT, "acekit", *words],
                           capture_output=True, text=True, cwd=self.tmp, env=env, check=True)
        return set(p.stdout.split("\n")) - {""}

    def test_bash_completion_knows_commands_options_and_entries(self):
        commands = {"a", "l", "t", "x", "e", "d", "c", "cf", "md", "i"}
        self.assertLessEqual(commands, self.complete(""))
        self.assertEqual(self.complete("-q", "c"), {"c", "cf"})
        # Every long option that a command's --help names is offered.
        for command in commands:
            with self.subTest(command):
                _, out, _ = h.run(command, "--help")
                documented = set(re.findall(r"(?<![\w-])(--[a-z][a-z-]+)", out))
                self.assertLessEqual(documented, self.complete(command, "--"))
        archive = self.archive_tree()
        self.assertEqual(self.complete("x", "-y", archive, "docs/s"), {"docs/sub/", "docs/sub/deep/",
                                                                     "docs/sub/deep/nested.c"})
        self.assertEqual(self.complete("a", "-d", ""), {"64", "128", "256", "512", "1024"})
        # -T is a count of threads but for a, where it may be a list of paths.
        self.assertIn("4", self.complete("t", "-T", ""))
        h.write(self.path("list.txt"), "a.ace\n")
        self.assertIn("list.txt", self.complete("a", "-T", "li"))


class Salvage(h.TreeCase):
    """Damaged archives give up only what the damage took."""

    def many(self, *options, name, count=30):
        for i in range(count):
            h.write(self.path("many", "f%02d.txt" % i),
                    h.text_block(random.Random(i), 20000))
        archive = self.path(name)
        self.assertRuns("a", *options, "-C", self.path("many"), archive, ".")
        return archive

    def test_extraction_goes_on_past_damaged_entries(self):
        archive = self.many(name="n.ace")
        for damaged in (b"f05.txt", b"f20.txt"):
            h.patch(archive, damaged, 100)
        out = self.path("out")
        said, err = self.assertRuns("x", "-o", out, archive, code=3)
        for damaged in ("f05.txt", "f20.txt"):
            self.assertIn(damaged + ": damaged", err)
        self.assertEqual(len(os.listdir(out)), 28)
        self.assertIn("2 damaged files left out", said)

    def test_solid_damage_goes_on_with_the_next_stream_at_any_thread_count(self):
        # f15x.txt cannot be compressed: it is stored and starts a fresh stream.
        h.write(self.path("many", "f15x.txt"), random.Random(7).randbytes(20000))
        archive = self.many("-s", name="s2.ace")
        listing = [e["name"] for e in h.list_json(archive)["entries"]]
        fresh = listing.index("f15x.txt")
        h.patch(archive, b"f10.txt", 100)
        results = []
        for threads in ("-T1", "-T2"):
            out = self.path("out" + threads)
            said, err = self.assertRuns("x", threads, "-o", out, archive, code=3)
            self.assertIn("f10.txt: damaged", err)
            for name in listing[listing.index("f10.txt") + 1:fresh]:
                self.assertIn(name + ": lost", err)
            self.assertNotIn(listing[fresh], err)
            got = {n: h.read(os.path.join(out, n)) for n in os.listdir(out)}
            self.assertEqual(set(got), set(listing[:listing.index("f10.txt")] + listing[fresh:]))
            _, tested = self.assertRuns("t", threads, archive, code=3)
            results.append((said.replace(out, "OUT"), err, got, tested))
        self.assertEqual(results[0], results[1])

    def test_header_damage_is_found_and_stepped_over(self):
        source = self.many(name="n.ace")
        data = h.read(source)
        name_at = data.index(b"f07.txt")
        cases = {
            # A flipped byte in a stored name: only the header's checksum tells.
            "name": (name_at + 1, "header fails its CRC check", 30),
            # A packed size that leads nowhere: the walk resumes at the next header.
            "size": (name_at - 35 + 8, "hold no readable header", 29),
        }
        for label, (at, message, count) in cases.items():
            with self.subTest(label):
                archive = self.path(label + ".ace")
                damaged = bytearray(data)
                damaged[at] ^= 0x55
                h.write(archive, bytes(damaged))
                out, err = self.assertRuns("t", archive, code=3)
                self.assertIn(message, err)
                listed, err = self.assertRuns("l", archive, code=1 if label == "name" else 3)
                self.assertIn(message, err)
                self.assertIn("f29.txt", listed)
                self.assertIn("%d files" % count, listed)
                _, err = self.assertRuns("x", "-o", self.path("o-" + label), archive,
                                         code=1 if label == "name" else 3)
                self.assertIn(message, err)
                self.assertEqual(len(os.listdir(self.path("o-" + label))), count)

    def test_truncated_archive_says_where_and_what(self):
        archive = self.many(name="n.ace")
        listing = [e["name"] for e in h.list_json(archive)["entries"]]
        data = h.read(archive)
        cut_in = data.index(b"f20.txt") + 100  # inside the data of f20.txt
        for label, size in (("data", cut_in), ("header", data.index(b"f20.txt") - 10)):
            with self.subTest(label):
                path = self.path("cut-%s.ace" % label)
                h.write(path, data[:size])
                for command in ("l", "i", "t", "x"):
                    args = ("x", "-o", self.path("o-" + label)) if command == "x" else (command,)
                    _, err = self.assertRuns(*args, path, code=3)
                    self.assertIn("truncated at byte %d" % size, err, command)
                    self.assertIn("f20.txt" if label == "data" else "f19.txt", err, command)
                self.assertEqual(len(os.listdir(self.path("o-" + label))),
                                 listing.index("f20.txt"))


class Help(unittest.TestCase):
    # An option as it stands in running text: not part of a word or a path.
    OPTION = re.compile(r"(?<![\w\-./])(--[a-z][a-z-]*[a-z]|-[a-zA-Z])(?!\w)")
    COMMANDS = ("a", "l", "t", "x", "e", "d", "c", "cf", "md", "i")

    def test_help_documents_masks_and_exit_codes_and_the_manual_the_same_options(self):
        code, helped, _ = h.run("--help")
        self.assertEqual(code, 0)
        for text in ("130 cancelled", "3 damaged archive", "'?' for one character", "Commands:"):
            self.assertIn(text, helped)
        for command in self.COMMANDS:
            code, out, _ = h.run(command, "--help")
            self.assertEqual(code, 0, command)
            self.assertIn("Usage: acekit " + command, out)
            self.assertIn("Exit status", out)
            helped += out
        page = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                            "acekit.1")
        with open(page, encoding="utf-8") as f:
            manual = f.read()
        commands = set(re.findall(r'^\.BI "(\w+) ', manual, flags=re.M))
        self.assertEqual(commands, set(self.COMMANDS))
        manual = re.sub(r"\\f[BIRP]", "", manual).replace("\\-", "-")
        manual = re.sub(r"^\.\S+\s*", "", manual, flags=re.M)
        # Options of other programs named for comparison.
        manual = re.sub(r"\bls -b\b", "", manual)
        in_help = set(self.OPTION.findall(helped))
        in_manual = set(self.OPTION.findall(manual))
        self.assertEqual(in_help - in_manual, set(), "in --help, not in the manual")
        self.assertEqual(in_manual - in_help, set(), "in the manual, not in --help")
        self.assertLessEqual({"--threads", "--files-from", "-T", "-V"}, in_help)
        self.assertRegex(manual, r"DOS attributes.*\n.*permission bits such as execute")


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        h.ACEKIT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
