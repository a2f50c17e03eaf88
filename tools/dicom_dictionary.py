#!/usr/bin/python3
"""Writes the DICOM reader's element table from DCMTK's data dictionary.

Run once by hand when the standard's dictionary changes; its output is
committed (imaging/special/dicom/dicom_dictionary_table.inc):

    tools/dicom_dictionary.py /usr/share/libdcmtk17/dicom.dic \
        > imaging/special/dicom/dicom_dictionary_table.inc

DCMTK's file (from the dcmtk and libdcmtk packages) holds the data elements of
the standard's data dictionary and the command elements of group 0000 with
their value representations. The reader needs one pair of letters per
element, so the pseudo representations become:
  "xs", "ox", "lt", "px"  -> "xs" (more than one representation allowed: the
                              two bytes of an explicit file decide)
  "up"                    -> "UL" (a 32-bit offset)
  "na"                    -> "!!" (items and delimiters: no representation)
Rows for a repeating group (6000-60FF, 5000-50FF) keep the first group only;
the reader looks the others up under it. Element ranges and the retired
variable pixel data groups are left out (they read as "xs").
"""
import re
import sys

PSEUDO = {"xs": "xs", "ox": "xs", "lt": "xs", "px": "xs", "up": "UL", "na": "!!"}


def rows(path):
    seen = {}
    tag = re.compile(r"^\(([0-9A-Fa-f]{4})(-[0-9A-Fa-f]{4})?,([0-9A-Fa-f]{4})\)$")
    with open(path, encoding="latin-1") as f:
        for line in f:
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            m = tag.match(fields[0])
            if not m:
                continue
            group, upper, element = int(m.group(1), 16), m.group(2), int(m.group(3), 16)
            if upper and group not in (0x5000, 0x6000):
                continue
            vr = PSEUDO.get(fields[1], fields[1])
            if not re.fullmatch(r"[A-Z]{2}|xs|!!", vr):
                sys.exit("unexpected representation %r in %s" % (fields[1], fields[0]))
            seen[(group, element)] = vr
    seen[(0xFFFF, 0xFFFF)] = "xs"
    return sorted(seen.items())


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: dicom_dictionary.py dicom.dic")
    out = sys.stdout
    out.write("// Made by tools/dicom_dictionary.py from DCMTK's dicom.dic; do not edit.\n")
    out.write("// group, element, value representation; ordered by group, then element.\n")
    for (group, element), vr in rows(sys.argv[1]):
        out.write('{0x%04X, 0x%04X, {\'%s\', \'%s\'}},\n' % (group, element, vr[0], vr[1]))


main()
