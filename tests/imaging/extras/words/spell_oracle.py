# Every translated word must be known to hunspell's dictionary of its
# language, but for a short list of technical terms and abbreviations per
# language. Words carried over in English are not the language's to check.
# Prints the words the dictionaries do not know (nothing when all are known).
import struct, subprocess, sys

DICTS = {2: 'it_IT', 3: 'de_DE', 4: 'es_ES', 5: 'fr_FR', 6: 'pt_PT', 7: 'el_GR', 8: 'ru_RU', 9: 'nl_NL', 10: 'sv_SE',
         11: 'pl_PL', 13: 'cs_CZ', 18: 'da_DK', 19: 'tr_TR', 21: 'hu_HU', 22: 'ar', 23: 'sr_Latn_RS'}
COMMON = {'DCT', 'Huffman', 'd', '%d', '%d.'}
TERMS = {
    2: {'Interlacciato', 'dell', 'sull', 'orizz', 'vert'},
    3: {'DCT-Verfahren', 'Horiz.', 'Vert.', 'of'},
    4: {'Fotometría', 'horiz', 'vert', 'ppp'},
    5: {'RVB', 'TSL', 'TSV', 'horiz.'},
    6: {'horiz', 'vert', 'ppp', 'píxeis'},
    7: {'Κάθ', 'Οριζ', 'Πεπλεγμένο', 'Προεπισκόπηση', 'προεπισκόπησης', 'εικονοστοιχεία'},
    8: {'Хаффман', 'верт', 'гориз'},
    9: {'DCT-methode', 'Fotometrie', 'Horiz.', 'Vert.'},
    10: {'DCT-metod', 'Gammakorrigering', 'Lodr.', 'Vågr.'},
    13: {'Vodor'},
    18: {'DCT-metode', 'Lodr.'},
    21: {'DCT-módszer', 'Vízsz.'},
    22: {'بايت', 'كيلوبايت', 'هوفمان'},
    23: {'Vodor.'},
}
data = open(sys.argv[1], 'rb').read()
at, texts = 0, {}
while at < len(data):
    row, slot, english, n = struct.unpack_from('<4i', data, at); at += 16
    word = data[at:at + n].decode('utf-8'); at += n
    if row in DICTS and not english:
        texts.setdefault(row, []).append(word)
bad = []
for row, words in sorted(texts.items()):
    r = subprocess.run(['hunspell', '-d', DICTS[row], '-l'], input='\n'.join(words), capture_output=True, text=True)
    unknown = sorted(set(r.stdout.split()) - COMMON - TERMS.get(row, set()))
    if r.returncode != 0 or unknown:
        bad.append('row %d (%s): %s %s' % (row, DICTS[row], ' '.join(unknown), r.stderr.strip()))
open(sys.argv[2], 'w').write('\n'.join(bad))
