#include "tarvex/national_tables.h"

#include <algorithm>
#include <array>
#include <utility>

#include "codec/gsm_alphabet.h"
#include "tarvex/error.h"

namespace tarvex::gsm7 {
namespace {

using Table = std::array<char16_t, 128>;

// A table written as its 128 positions in order (a literal of any other
// length does not compile); \uFFFF marks a position the table leaves empty.
constexpr Table Make(const char16_t (&positions)[129]) {
  Table t{};
  for (size_t i = 0; i < t.size(); ++i) t[i] = positions[i];
  return t;
}

// The tables of TS 23.038 annex A, eight positions a line.  Three misprints
// in the standard's Release 9 tables are read as the letters meant: Kannada
// locking 0x24 is U+0CA1, Tamil single 0x24 U+0BEE, Telugu single 0x22 and
// 0x23 U+0C6C and U+0C6D (each table's run of consecutive letters or digits
// shows it).  The Indian single-shift tables list the inverted exclamation
// mark and the asterisk twice, as the standard does; a text takes the first.

// A.3.1 Turkish locking shift
constexpr Table kLockingTurkish = Make(
    u"@\u00A3$\u00A5\u20AC\u00E9\u00F9\u0131"            // 00
    u"\u00F2\u00C7\n\u011E\u011F\r\u00C5\u00E5"          // 08
    u"\u0394_\u03A6\u0393\u039B\u03A9\u03A0\u03A8"       // 10
    u"\u03A3\u0398\u039E\uFFFF\u015E\u015F\u00DF\u00C9"  // 18
    u" !\"#\u00A4%&'"                                    // 20
    u"()*+,-./"                                          // 28
    u"01234567"                                          // 30
    u"89:;<=>?"                                          // 38
    u"\u0130ABCDEFG"                                     // 40
    u"HIJKLMNO"                                          // 48
    u"PQRSTUVW"                                          // 50
    u"XYZ\u00C4\u00D6\u00D1\u00DC\u00A7"                 // 58
    u"\u00E7abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u00E4\u00F6\u00F1\u00FC\u00E0");               // 78

// A.3.3 Portuguese locking shift
constexpr Table kLockingPortuguese = Make(
    u"@\u00A3$\u00A5\u00EA\u00E9\u00FA\u00ED"       // 00
    u"\u00F3\u00E7\n\u00D4\u00F4\r\u00C1\u00E1"     // 08
    u"\u0394_\u00AA\u00C7\u00C0\u221E^\\"           // 10
    u"\u20AC\u00D3|\uFFFF\u00C2\u00E2\u00CA\u00C9"  // 18
    u" !\"#\u00BA%&'"                               // 20
    u"()*+,-./"                                     // 28
    u"01234567"                                     // 30
    u"89:;<=>?"                                     // 38
    u"\u00CDABCDEFG"                                // 40
    u"HIJKLMNO"                                     // 48
    u"PQRSTUVW"                                     // 50
    u"XYZ\u00C3\u00D5\u00DA\u00DC\u00A7"            // 58
    u"~abcdefg"                                     // 60
    u"hijklmno"                                     // 68
    u"pqrstuvw"                                     // 70
    u"xyz\u00E3\u00F5`\u00FC\u00E0");               // 78

// A.3.4 Bengali locking shift
constexpr Table kLockingBengali = Make(
    u"\u0981\u0982\u0983\u0985\u0986\u0987\u0988\u0989"  // 00
    u"\u098A\u098B\n\u098C\uFFFF\r\uFFFF\u098F"          // 08
    u"\u0990\uFFFF\uFFFF\u0993\u0994\u0995\u0996\u0997"  // 10
    u"\u0998\u0999\u099A\uFFFF\u099B\u099C\u099D\u099E"  // 18
    u" !\u099F\u09A0\u09A1\u09A2\u09A3\u09A4"            // 20
    u")(\u09A5\u09A6,\u09A7.\u09A8"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u09AA\u09AB?"                           // 38
    u"\u09AC\u09AD\u09AE\u09AF\u09B0\uFFFF\u09B2\uFFFF"  // 40
    u"\uFFFF\uFFFF\u09B6\u09B7\u09B8\u09B9\u09BC\u09BD"  // 48
    u"\u09BE\u09BF\u09C0\u09C1\u09C2\u09C3\u09C4\uFFFF"  // 50
    u"\uFFFF\u09C7\u09C8\uFFFF\uFFFF\u09CB\u09CC\u09CD"  // 58
    u"\u09CEabcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u09D7\u09DC\u09DD\u09F0\u09F1");               // 78

// A.3.5 Gujarati locking shift
constexpr Table kLockingGujarati = Make(
    u"\u0A81\u0A82\u0A83\u0A85\u0A86\u0A87\u0A88\u0A89"  // 00
    u"\u0A8A\u0A8B\n\u0A8C\u0A8D\r\uFFFF\u0A8F"          // 08
    u"\u0A90\u0A91\uFFFF\u0A93\u0A94\u0A95\u0A96\u0A97"  // 10
    u"\u0A98\u0A99\u0A9A\uFFFF\u0A9B\u0A9C\u0A9D\u0A9E"  // 18
    u" !\u0A9F\u0AA0\u0AA1\u0AA2\u0AA3\u0AA4"            // 20
    u")(\u0AA5\u0AA6,\u0AA7.\u0AA8"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u0AAA\u0AAB?"                           // 38
    u"\u0AAC\u0AAD\u0AAE\u0AAF\u0AB0\uFFFF\u0AB2\u0AB3"  // 40
    u"\uFFFF\u0AB5\u0AB6\u0AB7\u0AB8\u0AB9\u0ABC\u0ABD"  // 48
    u"\u0ABE\u0ABF\u0AC0\u0AC1\u0AC2\u0AC3\u0AC4\u0AC5"  // 50
    u"\uFFFF\u0AC7\u0AC8\u0AC9\uFFFF\u0ACB\u0ACC\u0ACD"  // 58
    u"\u0AD0abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0AE0\u0AE1\u0AE2\u0AE3\u0AF1");               // 78

// A.3.6 Hindi locking shift
constexpr Table kLockingHindi = Make(
    u"\u0901\u0902\u0903\u0905\u0906\u0907\u0908\u0909"  // 00
    u"\u090A\u090B\n\u090C\u090D\r\u090E\u090F"          // 08
    u"\u0910\u0911\u0912\u0913\u0914\u0915\u0916\u0917"  // 10
    u"\u0918\u0919\u091A\uFFFF\u091B\u091C\u091D\u091E"  // 18
    u" !\u091F\u0920\u0921\u0922\u0923\u0924"            // 20
    u")(\u0925\u0926,\u0927.\u0928"                      // 28
    u"01234567"                                          // 30
    u"89:;\u0929\u092A\u092B?"                           // 38
    u"\u092C\u092D\u092E\u092F\u0930\u0931\u0932\u0933"  // 40
    u"\u0934\u0935\u0936\u0937\u0938\u0939\u093C\u093D"  // 48
    u"\u093E\u093F\u0940\u0941\u0942\u0943\u0944\u0945"  // 50
    u"\u0946\u0947\u0948\u0949\u094A\u094B\u094C\u094D"  // 58
    u"\u0950abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0972\u097B\u097C\u097E\u097F");               // 78

// A.3.7 Kannada locking shift
constexpr Table kLockingKannada = Make(
    u"\uFFFF\u0C82\u0C83\u0C85\u0C86\u0C87\u0C88\u0C89"  // 00
    u"\u0C8A\u0C8B\n\u0C8C\uFFFF\r\u0C8E\u0C8F"          // 08
    u"\u0C90\uFFFF\u0C92\u0C93\u0C94\u0C95\u0C96\u0C97"  // 10
    u"\u0C98\u0C99\u0C9A\uFFFF\u0C9B\u0C9C\u0C9D\u0C9E"  // 18
    u" !\u0C9F\u0CA0\u0CA1\u0CA2\u0CA3\u0CA4"            // 20
    u")(\u0CA5\u0CA6,\u0CA7.\u0CA8"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u0CAA\u0CAB?"                           // 38
    u"\u0CAC\u0CAD\u0CAE\u0CAF\u0CB0\u0CB1\u0CB2\u0CB3"  // 40
    u"\uFFFF\u0CB5\u0CB6\u0CB7\u0CB8\u0CB9\u0CBC\u0CBD"  // 48
    u"\u0CBE\u0CBF\u0CC0\u0CC1\u0CC2\u0CC3\u0CC4\uFFFF"  // 50
    u"\u0CC6\u0CC7\u0CC8\uFFFF\u0CCA\u0CCB\u0CCC\u0CCD"  // 58
    u"\u0CD5abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0CD6\u0CE0\u0CE1\u0CE2\u0CE3");               // 78

// A.3.8 Malayalam locking shift
constexpr Table kLockingMalayalam = Make(
    u"\uFFFF\u0D02\u0D03\u0D05\u0D06\u0D07\u0D08\u0D09"  // 00
    u"\u0D0A\u0D0B\n\u0D0C\uFFFF\r\u0D0E\u0D0F"          // 08
    u"\u0D10\uFFFF\u0D12\u0D13\u0D14\u0D15\u0D16\u0D17"  // 10
    u"\u0D18\u0D19\u0D1A\uFFFF\u0D1B\u0D1C\u0D1D\u0D1E"  // 18
    u" !\u0D1F\u0D20\u0D21\u0D22\u0D23\u0D24"            // 20
    u")(\u0D25\u0D26,\u0D27.\u0D28"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u0D2A\u0D2B?"                           // 38
    u"\u0D2C\u0D2D\u0D2E\u0D2F\u0D30\u0D31\u0D32\u0D33"  // 40
    u"\u0D34\u0D35\u0D36\u0D37\u0D38\u0D39\uFFFF\u0D3D"  // 48
    u"\u0D3E\u0D3F\u0D40\u0D41\u0D42\u0D43\u0D44\uFFFF"  // 50
    u"\u0D46\u0D47\u0D48\uFFFF\u0D4A\u0D4B\u0D4C\u0D4D"  // 58
    u"\u0D57abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0D60\u0D61\u0D62\u0D63\u0D79");               // 78

// A.3.9 Oriya locking shift
constexpr Table kLockingOriya = Make(
    u"\u0B01\u0B02\u0B03\u0B05\u0B06\u0B07\u0B08\u0B09"  // 00
    u"\u0B0A\u0B0B\n\u0B0C\uFFFF\r\uFFFF\u0B0F"          // 08
    u"\u0B10\uFFFF\uFFFF\u0B13\u0B14\u0B15\u0B16\u0B17"  // 10
    u"\u0B18\u0B19\u0B1A\uFFFF\u0B1B\u0B1C\u0B1D\u0B1E"  // 18
    u" !\u0B1F\u0B20\u0B21\u0B22\u0B23\u0B24"            // 20
    u")(\u0B25\u0B26,\u0B27.\u0B28"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u0B2A\u0B2B?"                           // 38
    u"\u0B2C\u0B2D\u0B2E\u0B2F\u0B30\uFFFF\u0B32\u0B33"  // 40
    u"\uFFFF\u0B35\u0B36\u0B37\u0B38\u0B39\u0B3C\u0B3D"  // 48
    u"\u0B3E\u0B3F\u0B40\u0B41\u0B42\u0B43\u0B44\uFFFF"  // 50
    u"\uFFFF\u0B47\u0B48\uFFFF\uFFFF\u0B4B\u0B4C\u0B4D"  // 58
    u"\u0B56abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0B57\u0B60\u0B61\u0B62\u0B63");               // 78

// A.3.10 Punjabi locking shift
constexpr Table kLockingPunjabi = Make(
    u"\u0A01\u0A02\u0A03\u0A05\u0A06\u0A07\u0A08\u0A09"  // 00
    u"\u0A0A\uFFFF\n\uFFFF\uFFFF\r\uFFFF\u0A0F"          // 08
    u"\u0A10\uFFFF\uFFFF\u0A13\u0A14\u0A15\u0A16\u0A17"  // 10
    u"\u0A18\u0A19\u0A1A\uFFFF\u0A1B\u0A1C\u0A1D\u0A1E"  // 18
    u" !\u0A1F\u0A20\u0A21\u0A22\u0A23\u0A24"            // 20
    u")(\u0A25\u0A26,\u0A27.\u0A28"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u0A2A\u0A2B?"                           // 38
    u"\u0A2C\u0A2D\u0A2E\u0A2F\u0A30\uFFFF\u0A32\u0A33"  // 40
    u"\uFFFF\u0A35\u0A36\uFFFF\u0A38\u0A39\u0A3C\uFFFF"  // 48
    u"\u0A3E\u0A3F\u0A40\u0A41\u0A42\uFFFF\uFFFF\uFFFF"  // 50
    u"\uFFFF\u0A47\u0A48\uFFFF\uFFFF\u0A4B\u0A4C\u0A4D"  // 58
    u"\u0A51abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0A70\u0A71\u0A72\u0A73\u0A74");               // 78

// A.3.11 Tamil locking shift
constexpr Table kLockingTamil = Make(
    u"\uFFFF\u0B82\u0B83\u0B85\u0B86\u0B87\u0B88\u0B89"  // 00
    u"\u0B8A\uFFFF\n\uFFFF\uFFFF\r\u0B8E\u0B8F"          // 08
    u"\u0B90\uFFFF\u0B92\u0B93\u0B94\u0B95\uFFFF\uFFFF"  // 10
    u"\uFFFF\u0B99\u0B9A\uFFFF\uFFFF\u0B9C\uFFFF\u0B9E"  // 18
    u" !\u0B9F\uFFFF\uFFFF\uFFFF\u0BA3\u0BA4"            // 20
    u")(\uFFFF\uFFFF,\uFFFF.\u0BA8"                      // 28
    u"01234567"                                          // 30
    u"89:;\u0BA9\u0BAA\uFFFF?"                           // 38
    u"\uFFFF\uFFFF\u0BAE\u0BAF\u0BB0\u0BB1\u0BB2\u0BB3"  // 40
    u"\u0BB4\u0BB5\u0BB6\u0BB7\u0BB8\u0BB9\uFFFF\uFFFF"  // 48
    u"\u0BBE\u0BBF\u0BC0\u0BC1\u0BC2\uFFFF\uFFFF\uFFFF"  // 50
    u"\u0BC6\u0BC7\u0BC8\uFFFF\u0BCA\u0BCB\u0BCC\u0BCD"  // 58
    u"\u0BD0abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0BD7\u0BF0\u0BF1\u0BF2\u0BF9");               // 78

// A.3.12 Telugu locking shift
constexpr Table kLockingTelugu = Make(
    u"\u0C01\u0C02\u0C03\u0C05\u0C06\u0C07\u0C08\u0C09"  // 00
    u"\u0C0A\u0C0B\n\u0C0C\uFFFF\r\u0C0E\u0C0F"          // 08
    u"\u0C10\uFFFF\u0C12\u0C13\u0C14\u0C15\u0C16\u0C17"  // 10
    u"\u0C18\u0C19\u0C1A\uFFFF\u0C1B\u0C1C\u0C1D\u0C1E"  // 18
    u" !\u0C1F\u0C20\u0C21\u0C22\u0C23\u0C24"            // 20
    u")(\u0C25\u0C26,\u0C27.\u0C28"                      // 28
    u"01234567"                                          // 30
    u"89:;\uFFFF\u0C2A\u0C2B?"                           // 38
    u"\u0C2C\u0C2D\u0C2E\u0C2F\u0C30\u0C31\u0C32\u0C33"  // 40
    u"\uFFFF\u0C35\u0C36\u0C37\u0C38\u0C39\uFFFF\u0C3D"  // 48
    u"\u0C3E\u0C3F\u0C40\u0C41\u0C42\u0C43\u0C44\uFFFF"  // 50
    u"\u0C46\u0C47\u0C48\uFFFF\u0C4A\u0C4B\u0C4C\u0C4D"  // 58
    u"\u0C55abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0C56\u0C60\u0C61\u0C62\u0C63");               // 78

// A.3.13 Urdu locking shift
constexpr Table kLockingUrdu = Make(
    u"\u0627\u0622\u0628\u067B\u0680\u067E\u06A6\u062A"  // 00
    u"\u06C2\u067F\n\u0679\u067D\r\u067A\u067C"          // 08
    u"\u062B\u062C\u0681\u0684\u0683\u0685\u0686\u0687"  // 10
    u"\u062D\u062E\u062F\uFFFF\u068C\u0688\u0689\u068A"  // 18
    u" !\u068F\u068D\u0630\u0631\u0691\u0693"            // 20
    u")(\u0699\u0632,\u0696.\u0698"                      // 28
    u"01234567"                                          // 30
    u"89:;\u069A\u0633\u0634?"                           // 38
    u"\u0635\u0636\u0637\u0638\u0639\u0641\u0642\u06A9"  // 40
    u"\u06AA\u06AB\u06AF\u06B3\u06B1\u0644\u0645\u0646"  // 48
    u"\u06BA\u06BB\u06BC\u0648\u06C4\u06D5\u06C1\u06BE"  // 50
    u"\u0621\u06CC\u06D0\u06D2\u064D\u0650\u064F\u0657"  // 58
    u"\u0654abcdefg"                                     // 60
    u"hijklmno"                                          // 68
    u"pqrstuvw"                                          // 70
    u"xyz\u0655\u0651\u0653\u0656\u0670");               // 78

// A.2.1 Turkish single shift
constexpr Table kSingleTurkish = Make(
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 00
    u"\uFFFF\uFFFF\f\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"        // 08
    u"\uFFFF\uFFFF\uFFFF\uFFFF^\uFFFF\uFFFF\uFFFF"         // 10
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 18
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 20
    u"{}\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u011E"         // 40
    u"\uFFFF\u0130\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 48
    u"\uFFFF\uFFFF\uFFFF\u015E\uFFFF\uFFFF\uFFFF\uFFFF"    // 50
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 58
    u"\uFFFF\uFFFF\uFFFF\u00E7\uFFFF\u20AC\uFFFF\u011F"    // 60
    u"\uFFFF\u0131\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\u015F\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.2 Spanish single shift
constexpr Table kSingleSpanish = Make(
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 00
    u"\uFFFF\u00E7\f\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"        // 08
    u"\uFFFF\uFFFF\uFFFF\uFFFF^\uFFFF\uFFFF\uFFFF"         // 10
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 18
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 20
    u"{}\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|\u00C1\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"         // 40
    u"\uFFFF\u00CD\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00D3"    // 48
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00DA\uFFFF\uFFFF"    // 50
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 58
    u"\uFFFF\u00E1\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\u00ED\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00F3"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00FA\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.3 Portuguese single shift
constexpr Table kSinglePortuguese = Make(
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00EA\uFFFF\uFFFF"    // 00
    u"\uFFFF\u00E7\f\u00D4\u00F4\uFFFF\u00C1\u00E1"        // 08
    u"\uFFFF\uFFFF\u03A6\u0393^\u03A9\u03A0\u03A8"         // 10
    u"\u03A3\u0398\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00CA"    // 18
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 20
    u"{}\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|\u00C0\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"         // 40
    u"\uFFFF\u00CD\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00D3"    // 48
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00DA\uFFFF\uFFFF"    // 50
    u"\uFFFF\uFFFF\uFFFF\u00C3\u00D5\uFFFF\uFFFF\uFFFF"    // 58
    u"\uFFFF\u00C2\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\u00ED\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00F3"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u00FA\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\u00E3\u00F5\uFFFF\uFFFF\u00E2");  // 78

// A.2.4 Bengali single shift
constexpr Table kSingleBengali = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u09E6\u09E7\uFFFF\u09E8\u09E9\u09EA\u09EB"         // 18
    u"\u09EC\u09ED\u09EE\u09EF\u09DF\u09E0\u09E1\u09E2"    // 20
    u"{}\u09E3\u09F2\u09F3\u09F4\u09F5\\"                  // 28
    u"\u09F6\u09F7\u09F8\u09F9\u09FA\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.5 Gujarati single shift
constexpr Table kSingleGujarati = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0AE6\u0AE7\u0AE8\u0AE9"         // 18
    u"\u0AEA\u0AEB\u0AEC\u0AED\u0AEE\u0AEF\uFFFF\uFFFF"    // 20
    u"{}\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.6 Hindi single shift
constexpr Table kSingleHindi = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0966\u0967\u0968\u0969"         // 18
    u"\u096A\u096B\u096C\u096D\u096E\u096F\u0951\u0952"    // 20
    u"{}\u0953\u0954\u0958\u0959\u095A\\"                  // 28
    u"\u095B\u095C\u095D\u095E\u095F\u0960\u0961\u0962"    // 30
    u"\u0963\u0970\u0971\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.7 Kannada single shift
constexpr Table kSingleKannada = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0CE6\u0CE7\u0CE8\u0CE9"         // 18
    u"\u0CEA\u0CEB\u0CEC\u0CED\u0CEE\u0CEF\u0CDE\u0CF1"    // 20
    u"{}\u0CF2\uFFFF\uFFFF\uFFFF\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.8 Malayalam single shift
constexpr Table kSingleMalayalam = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0D66\u0D67\u0D68\u0D69"         // 18
    u"\u0D6A\u0D6B\u0D6C\u0D6D\u0D6E\u0D6F\u0D70\u0D71"    // 20
    u"{}\u0D72\u0D73\u0D74\u0D75\u0D7A\\"                  // 28
    u"\u0D7B\u0D7C\u0D7D\u0D7E\u0D7F\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.9 Oriya single shift
constexpr Table kSingleOriya = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0B66\u0B67\u0B68\u0B69"         // 18
    u"\u0B6A\u0B6B\u0B6C\u0B6D\u0B6E\u0B6F\u0B5C\u0B5D"    // 20
    u"{}\u0B5F\u0B70\u0B71\uFFFF\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.10 Punjabi single shift
constexpr Table kSinglePunjabi = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0A66\u0A67\u0A68\u0A69"         // 18
    u"\u0A6A\u0A6B\u0A6C\u0A6D\u0A6E\u0A6F\u0A59\u0A5A"    // 20
    u"{}\u0A5B\u0A5C\u0A5E\u0A75\uFFFF\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.11 Tamil single shift
constexpr Table kSingleTamil = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0964\u0965\uFFFF\u0BE6\u0BE7\u0BE8\u0BE9"         // 18
    u"\u0BEA\u0BEB\u0BEC\u0BED\u0BEE\u0BEF\u0BF3\u0BF4"    // 20
    u"{}\u0BF5\u0BF6\u0BF7\u0BF8\u0BFA\\"                  // 28
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.12 Telugu single shift
constexpr Table kSingleTelugu = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\uFFFF\uFFFF\uFFFF\u0C66\u0C67\u0C68\u0C69"         // 18
    u"\u0C6A\u0C6B\u0C6C\u0C6D\u0C6E\u0C6F\u0C58\u0C59"    // 20
    u"{}\u0C78\u0C79\u0C7A\u0C7B\u0C7C\\"                  // 28
    u"\u0C7D\u0C7E\u0C7F\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 30
    u"\uFFFF\uFFFF\uFFFF\uFFFF[~]\uFFFF"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

// A.2.13 Urdu single shift
constexpr Table kSingleUrdu = Make(
    u"@\u00A3$\u00A5\u00BF\"\u00A4%"                       // 00
    u"&'\f*+\uFFFF-/"                                      // 08
    u"<=>\u00A1^\u00A1_#"                                  // 10
    u"*\u0600\u0601\uFFFF\u06F0\u06F1\u06F2\u06F3"         // 18
    u"\u06F4\u06F5\u06F6\u06F7\u06F8\u06F9\u060C\u060D"    // 20
    u"{}\u060E\u060F\u0610\u0611\u0612\\"                  // 28
    u"\u0613\u0614\u061B\u061F\u0640\u0652\u0658\u066B"    // 30
    u"\u066C\u0672\u0673\u06CD[~]\u06D4"                   // 38
    u"|ABCDEFG"                                            // 40
    u"HIJKLMNO"                                            // 48
    u"PQRSTUVW"                                            // 50
    u"XYZ\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"                   // 58
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\u20AC\uFFFF\uFFFF"    // 60
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 68
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"    // 70
    u"\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF");  // 78

struct Language {
  std::string_view code;
  const Table* locking;
  const Table* single;
};

constexpr Language kLanguages[kLanguageCount] = {
    {"default", nullptr, nullptr},
    {"tr", &kLockingTurkish, &kSingleTurkish},
    {"es", nullptr, &kSingleSpanish},
    {"pt", &kLockingPortuguese, &kSinglePortuguese},
    {"bn", &kLockingBengali, &kSingleBengali},
    {"gu", &kLockingGujarati, &kSingleGujarati},
    {"hi", &kLockingHindi, &kSingleHindi},
    {"kn", &kLockingKannada, &kSingleKannada},
    {"ml", &kLockingMalayalam, &kSingleMalayalam},
    {"or", &kLockingOriya, &kSingleOriya},
    {"pa", &kLockingPunjabi, &kSinglePunjabi},
    {"ta", &kLockingTamil, &kSingleTamil},
    {"te", &kLockingTelugu, &kSingleTelugu},
    {"ur", &kLockingUrdu, &kSingleUrdu},
};

bool Known(int language) { return language > 0 && language < kLanguageCount; }

// Unit -> septet of one table, sorted by unit for a binary search.
class Reverse {
 public:
  Reverse() = default;
  explicit Reverse(const char16_t* table) {
    for (int s = 0; s < 128; ++s) {  // in order, so a repeated unit keeps its first septet
      if (table[s] != kNoChar) entries_[size_++] = {table[s], static_cast<uint8_t>(s)};
    }
    std::stable_sort(entries_.begin(), entries_.begin() + size_,
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    size_ = static_cast<size_t>(
        std::unique(entries_.begin(), entries_.begin() + size_,
                    [](const auto& a, const auto& b) { return a.first == b.first; }) -
        entries_.begin());
  }
  int Find(char16_t c) const {
    const auto end = entries_.begin() + size_;
    const auto it = std::lower_bound(entries_.begin(), end, c,
                                     [](const auto& e, char16_t v) { return e.first < v; });
    return it != end && it->first == c ? it->second : -1;
  }

 private:
  std::array<std::pair<char16_t, uint8_t>, 128> entries_{};
  size_t size_ = 0;
};

struct ReverseIndex {
  Reverse locking[kLanguageCount];
  Reverse single[kLanguageCount];
  ReverseIndex() {
    for (int l = 0; l < kLanguageCount; ++l) {
      locking[l] = Reverse(LockingShiftTable(l));
      single[l] = Reverse(SingleShiftTable(l));
    }
  }
};

const ReverseIndex& Index() {
  static const ReverseIndex index;
  return index;
}

}  // namespace

const char16_t* LockingShiftTable(int language) {
  return HasLockingShift(language) ? kLanguages[language].locking->data() : DefaultTable();
}

const char16_t* SingleShiftTable(int language) {
  return HasSingleShift(language) ? kLanguages[language].single->data() : ExtensionTable();
}

bool HasLockingShift(int language) {
  return Known(language) && kLanguages[language].locking != nullptr;
}

bool HasSingleShift(int language) {
  return Known(language) && kLanguages[language].single != nullptr;
}

std::string_view LanguageCode(int language) {
  return Known(language) ? kLanguages[language].code : kLanguages[0].code;
}

int LanguageFromCode(std::string_view code) {
  for (int l = 1; l < kLanguageCount; ++l) {
    if (kLanguages[l].code == code) return l;
  }
  return -1;
}

int SeptetForm(char16_t c, ShiftTables tables) {
  const ReverseIndex& index = Index();
  const int direct = index.locking[HasLockingShift(tables.locking) ? tables.locking : 0].Find(c);
  if (direct >= 0) return direct;
  const int shifted = index.single[HasSingleShift(tables.single) ? tables.single : 0].Find(c);
  return shifted >= 0 ? 0x100 | shifted : -1;
}

NationalChoice ParseNationalChoice(std::string_view text) {
  if (text == "off") return {};
  if (text == "auto") return {NationalChoice::kAuto, 0};
  const int language = LanguageFromCode(text);
  if (language < 0) {
    throw Error(kInvalidArgument, "unknown national language \"" + std::string(text) +
                                      "\": use off, auto or one of tr es pt bn gu hi kn ml or "
                                      "pa ta te ur");
  }
  return {NationalChoice::kLanguage, language};
}

}  // namespace tarvex::gsm7
