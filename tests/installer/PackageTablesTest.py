#!/usr/bin/env python3
"""The 32-bit (shipping) package read with msitools on Linux, beside the 64-bit one.

PackageTablesTest.py SOURCE_DIR WIN32_STAGE_DIR WIN64_STAGE_DIR VERSION
Makes both packages with installer/make-msi and checks their tables and the binaries in
them. Exits 77 (skipped) when the 32-bit program folder has not been built.
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE, STAGE32, STAGE64, VERSION = sys.argv[1:5]
# Released packages find each other by this code; it never changes.
UPGRADE_CODE = "{811F179D-58AC-4049-AFF1-B6720C724652}"
MSIDBCOMPONENT_64BIT = 256


def staged_files(stage):
    out = set()
    for folder, _, names in os.walk(stage):
        for n in names:
            rel = os.path.relpath(os.path.join(folder, n), stage)
            if rel != "Orvix.ini":
                out.add(rel.replace(os.sep, "\\"))
    return out


def table(msi, name):
    """Rows of a table as dicts, from msiinfo's export (a header of three lines)."""
    text = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                          text=True).stdout
    lines = text.split("\r\n") if "\r\n" in text else text.split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, l.split("\t"))) for l in lines[3:] if l]


def long_name(name):
    name = name.split(":")[0]
    return name.split("|")[-1]


def package_files(msi):
    """File name -> path below INSTALLDIR as its Directory rows place it, and the parts."""
    dirs = {r["Directory"]: (r["Directory_Parent"], long_name(r["DefaultDir"]))
            for r in table(msi, "Directory")}
    components = {r["Component"]: r for r in table(msi, "Component")}

    def rel_dir(d):
        parts = []
        while d != "INSTALLDIR":
            parent, name = dirs[d]
            if name != ".":
                parts.insert(0, name)
            d = parent
        return "".join(p + "\\" for p in parts)

    files = {}
    for r in table(msi, "File"):
        comp = components[r["Component_"]]
        files[rel_dir(comp["Directory_"]) + long_name(r["FileName"])] = comp
    return files


# The 64-bit host that the 32-bit program starts on 64-bit Windows, with its Quillhook.
HALF64 = ["x64\\Quillhook.dll", "x64\\QuillhookHost.exe"]


def pe_kind(path):
    """(optional header magic, machine) of a PE file."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", path
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return magic, machine


def file_version(path):
    """The fixed file version of a PE's version resource, as "a.b.c.d"."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        make = os.path.join(SOURCE, "installer", "make-msi")
        cls.msi32 = os.path.join(cls.tmp.name, f"Orvix-{VERSION}-x86.msi")
        cls.msi64 = os.path.join(cls.tmp.name, f"Orvix-{VERSION}-x64.msi")
        subprocess.run([make, STAGE32, "x86", VERSION, cls.msi32], check=True)
        subprocess.run([make, STAGE64, "x64", VERSION, cls.msi64], check=True)
        cls.files32 = package_files(cls.msi32)
        cls.files64 = package_files(cls.msi64)
        cls.extracted = os.path.join(cls.tmp.name, "x86")
        os.mkdir(cls.extracted)
        subprocess.run(["msiextract", "-C", cls.extracted, cls.msi32], check=True,
                       capture_output=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def properties(self, msi):
        return {r["Property"]: r["Value"] for r in table(msi, "Property")}

    def test_same_files_as_the_staged_folder_and_the_64_bit_package(self):
        self.assertEqual(set(self.files32), staged_files(STAGE32))
        # The 32-bit program carries its 64-bit half besides; the 64-bit one needs none.
        self.assertEqual(set(self.files32), set(self.files64) | set(HALF64))
        self.assertFalse([f for f in self.files64 if f.lower().startswith("x64\\")])
        for must in ("Orvix.exe", "Quillhook.dll", "Pellhook.dll", "Orvix.ico"):
            self.assertIn(must, self.files32)
        self.assertFalse([f for f in self.files32 if "vcam" in f.lower()],
                         "the stand-in camera is never packaged")

    def test_binaries_are_32_bit_and_carry_the_version(self):
        installed = os.path.join(self.extracted, "Program Files", "Orvix")
        binaries = [f for f in self.files32 if f.lower().endswith((".exe", ".dll"))]
        self.assertEqual(sorted(binaries),
                         sorted(["Orvix.exe", "Pellhook.dll", "Quillhook.dll"] + HALF64))
        for rel in binaries:
            path = os.path.join(installed, *rel.split("\\"))
            kind = (0x20B, 0x8664) if rel in HALF64 else (0x10B, 0x14C)
            self.assertEqual(pe_kind(path), kind, f"{rel} has the wrong bitness")
            self.assertEqual(file_version(path), VERSION + ".0", rel)
        # ... and the 64-bit package holds 64-bit ones: the two folders are not mixed up.
        self.assertEqual(pe_kind(os.path.join(STAGE64, "Orvix.exe")), (0x20B, 0x8664))

    def test_installs_per_machine_into_the_32_bit_program_files(self):
        dirs = {r["Directory"]: r for r in table(self.msi32, "Directory")}
        self.assertEqual(dirs["INSTALLDIR"]["Directory_Parent"], "ProgramFilesFolder")
        self.assertEqual(long_name(dirs["INSTALLDIR"]["DefaultDir"]), "Orvix")
        self.assertNotIn("ProgramFiles64Folder", dirs)
        for c in table(self.msi32, "Component"):
            self.assertFalse(int(c["Attributes"]) & MSIDBCOMPONENT_64BIT, c["Component"])
        summary = subprocess.run(["msiinfo", "suminfo", self.msi32], check=True,
                                 capture_output=True, text=True).stdout
        self.assertIn("Template: Intel;1033", summary)
        dirs64 = {r["Directory"]: r for r in table(self.msi64, "Directory")}
        self.assertEqual(dirs64["INSTALLDIR"]["Directory_Parent"], "ProgramFiles64Folder")
        self.assertEqual(self.properties(self.msi32)["ALLUSERS"], "1")

    def test_upgrade_code_version_and_program_list_entry(self):
        p32, p64 = self.properties(self.msi32), self.properties(self.msi64)
        self.assertEqual(p32["UpgradeCode"], UPGRADE_CODE)
        self.assertEqual(p64["UpgradeCode"], UPGRADE_CODE)
        self.assertEqual(p32["ProductVersion"], VERSION)
        self.assertEqual(p32["ProductName"], "Orvix")
        self.assertEqual(p32["Manufacturer"], "Orvix")
        self.assertIn(p32["ARPPRODUCTICON"], {r["Name"] for r in table(self.msi32, "Icon")})
        # Older versions are found and removed, a newer one blocks the install.
        upgrades = table(self.msi32, "Upgrade")
        self.assertTrue(any(u["UpgradeCode"] == UPGRADE_CODE and u["VersionMax"] == VERSION
                            for u in upgrades), upgrades)
        actions = {r["Action"] for r in table(self.msi32, "InstallExecuteSequence")}
        self.assertIn("RemoveExistingProducts", actions)

    def test_start_menu_shortcut_with_the_icon(self):
        shortcuts = table(self.msi32, "Shortcut")
        self.assertEqual(len(shortcuts), 1)
        s = shortcuts[0]
        self.assertEqual(s["Directory_"], "ProgramMenuFolder")
        self.assertEqual(s["Target"], "[INSTALLDIR]Orvix.exe")
        self.assertEqual(s["Icon_"], self.properties(self.msi32)["ARPPRODUCTICON"])

    def test_readme_names_the_packages_of_this_version(self):
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        for arch in ("x86", "x64"):
            name = f"Orvix-{VERSION}-{arch}.msi"
            self.assertTrue(name in readme, f"README.md does not name {name}")


if __name__ == "__main__":
    if not os.path.isfile(os.path.join(STAGE32, "Orvix.exe")):
        print(f"skipped: the 32-bit program folder {STAGE32} is not built")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1], verbosity=2)
