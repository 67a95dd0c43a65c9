#!/usr/bin/env python3
"""Writes the reference tables the tests check the decoders and the calendar against, from
Python's own codecs and calendar rather than from our code. Run once from this folder; the output
is committed beside it.

  codepages.txt     each byte 80-FF: its code point in Windows-1252 and in Mac Roman
  utf8.txt          byte sequences around every boundary of UTF-8's lead and second bytes, and
                    whether a strict decoder takes them
  calendar.txt      year, month, the month's length and its first day's number from 1970-01-01
  names.txt         the English month and weekday names, full and short
"""
import calendar
import datetime

with open("codepages.txt", "w", encoding="ascii") as out:
    out.write("# byte cp1252 mac-roman (Python codecs; cp1252's five unassigned bytes stand for\n"
              "# the C1 control of the same value, as Latin-1 has them)\n")
    for b in range(0x80, 0x100):
        try:
            cp1252 = ord(bytes([b]).decode("cp1252"))
        except UnicodeDecodeError:
            cp1252 = b
        out.write(f"{b:02X} {cp1252:04X} {ord(bytes([b]).decode('mac_roman')):04X}\n")

with open("utf8.txt", "w", encoding="ascii") as out:
    out.write("# bytes (hex) valid(1/0) per Python's strict UTF-8 decoder\n")
    seconds = [0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF]
    for lead in range(0x80, 0x100):
        for second in seconds:
            for rest in (0, 1, 2):
                seq = bytes([lead, second] + [0x80] * rest)
                try:
                    seq.decode("utf-8")
                    ok = 1
                except UnicodeDecodeError:
                    ok = 0
                out.write(f"{seq.hex().upper()} {ok}\n")

with open("calendar.txt", "w", encoding="ascii") as out:
    out.write("# year month days first-day-number\n")
    years = [1600, 1700, 1800, 1900, 1969, 1970, 1971, 1999, 2000, 2001, 2023, 2024, 2025,
             2100, 2400, 9999]
    epoch = datetime.date(1970, 1, 1)
    for y in years:
        for m in range(1, 13):
            days = calendar.monthrange(y, m)[1]
            out.write(f"{y} {m} {days} {(datetime.date(y, m, 1) - epoch).days}\n")

with open("names.txt", "w", encoding="ascii") as out:
    out.write("# month number full short / weekday number (Monday 0) full short\n")
    for m in range(1, 13):
        out.write(f"month {m} {calendar.month_name[m]} {calendar.month_abbr[m]}\n")
    for d in range(7):
        out.write(f"weekday {d} {calendar.day_name[d]} {calendar.day_abbr[d]}\n")
