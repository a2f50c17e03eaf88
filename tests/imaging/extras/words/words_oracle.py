# Every word must be expressible in its row's Windows code page (the program
# stores UTF-8, but the table was made for those code pages), and slots 153
# and 154 keep as many "%d" as the English ones. Prints the offending words.
import struct, sys
PAGES = {1: 'cp1252', 2: 'cp1252', 3: 'cp1252', 4: 'cp1252', 5: 'cp1252', 6: 'cp1252', 7: 'cp1253', 8: 'cp1251',
         9: 'cp1252', 10: 'cp1252', 11: 'cp1250', 12: 'cp932', 13: 'cp1250', 14: 'cp1252', 15: 'cp1256', 16: 'gbk',
         17: 'gbk', 18: 'cp1252', 19: 'cp1254', 20: 'cp949', 21: 'cp1250', 22: 'cp1256', 23: 'cp1250'}
data = open(sys.argv[1], 'rb').read()
at, bad = 0, []
while at < len(data):
    row, slot, n = struct.unpack_from('<3i', data, at); at += 12
    word = data[at:at + n].decode('utf-8'); at += n
    try:
        word.encode(PAGES[row])
    except UnicodeEncodeError as e:
        bad.append('row %d slot %d %r: not in %s' % (row, slot, word, PAGES[row]))
    if slot in (153, 154) and word.count('%d') != (2 if slot == 153 else 1):
        bad.append('row %d slot %d %r: placeholders lost' % (row, slot, word))
open(sys.argv[2], 'w').write('\n'.join(bad))
