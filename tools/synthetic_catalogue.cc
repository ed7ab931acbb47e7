#include "tools/synthetic_catalogue.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>

#include "tools/isbn.h"

namespace tools {

namespace {

// A word with its reading as a catalogue writes it (katakana).
struct Word {
  const char* text;
  const char* kana;
};

struct Topic {
  const char* text;
  const char* kana;
  const char* ndc;
};

struct Publisher {
  const char* name;
  const char* registrant;  // four digits, the 7000-8499 range of Japanese registrants
};

// Words of novel titles; some carry a Shift_JIS trail byte 0x5C (十, 表, ソ).
constexpr Word kNouns[] = {
    {"夜", "ヨル"},         {"海", "ウミ"},           {"星", "ホシ"},
    {"風", "カゼ"},         {"月", "ツキ"},           {"雪", "ユキ"},
    {"花", "ハナ"},         {"空", "ソラ"},           {"森", "モリ"},
    {"川", "カワ"},         {"港", "ミナト"},         {"駅", "エキ"},
    {"街", "マチ"},         {"庭", "ニワ"},           {"窓", "マド"},
    {"扉", "トビラ"},       {"鍵", "カギ"},           {"手紙", "テガミ"},
    {"記憶", "キオク"},     {"約束", "ヤクソク"},     {"季節", "キセツ"},
    {"影", "カゲ"},         {"光", "ヒカリ"},         {"声", "コエ"},
    {"夢", "ユメ"},         {"嘘", "ウソ"},           {"秘密", "ヒミツ"},
    {"迷宮", "メイキュウ"}, {"雨", "アメ"},           {"桜", "サクラ"},
    {"猫", "ネコ"},         {"少女", "ショウジョ"},   {"少年", "ショウネン"},
    {"旅人", "タビビト"},   {"時計", "トケイ"},       {"図書館", "トショカン"},
    {"硝子", "ガラス"},     {"向日葵", "ヒマワリ"},   {"灯台", "トウダイ"},
    {"坂道", "サカミチ"},   {"十字路", "ジュウジロ"}, {"表札", "ヒョウサツ"},
    {"ソナタ", "ソナタ"},   {"羅針盤", "ラシンバン"}};

constexpr Topic kTopics[] = {{"天文学", "テンモンガク", "440"},
                             {"植物", "ショクブツ", "470"},
                             {"昆虫", "コンチュウ", "486"},
                             {"日本史", "ニホンシ", "210"},
                             {"世界史", "セカイシ", "209"},
                             {"経済学", "ケイザイガク", "331"},
                             {"心理学", "シンリガク", "140"},
                             {"プログラミング", "プログラミング", "007.64"},
                             {"料理", "リョウリ", "596"},
                             {"家庭菜園", "カテイ サイエン", "626.9"},
                             {"統計学", "トウケイガク", "417"},
                             {"哲学", "テツガク", "100"},
                             {"建築", "ケンチク", "520"},
                             {"写真", "シャシン", "743"},
                             {"将棋", "ショウギ", "796"},
                             {"地震", "ジシン", "453.2"},
                             {"鉄道", "テツドウ", "686.21"},
                             {"民法", "ミンポウ", "324"},
                             {"英会話", "エイカイワ", "837.8"},
                             {"茶道", "サドウ", "791"},
                             {"能楽", "ノウガク", "773"},
                             {"気象", "キショウ", "451"},
                             {"微分積分", "ビブン セキブン", "413.3"},
                             {"仏教", "ブッキョウ", "180"},
                             {"介護", "カイゴ", "369.26"},
                             {"囲碁", "イゴ", "795"},
                             {"野鳥", "ヤチョウ", "488"},
                             {"音楽理論", "オンガク リロン", "761"},
                             {"表計算", "ヒョウケイサン", "007.63"},
                             {"宇宙", "ウチュウ", "440"}};

constexpr Word kFamilyNames[] = {
    {"佐藤", "サトウ"},   {"鈴木", "スズキ"},   {"高橋", "タカハシ"},   {"田中", "タナカ"},
    {"伊藤", "イトウ"},   {"渡辺", "ワタナベ"}, {"山本", "ヤマモト"},   {"中村", "ナカムラ"},
    {"小林", "コバヤシ"}, {"加藤", "カトウ"},   {"吉田", "ヨシダ"},     {"山田", "ヤマダ"},
    {"佐々木", "ササキ"}, {"山口", "ヤマグチ"}, {"松本", "マツモト"},   {"井上", "イノウエ"},
    {"木村", "キムラ"},   {"林", "ハヤシ"},     {"斎藤", "サイトウ"},   {"清水", "シミズ"},
    {"山崎", "ヤマザキ"}, {"森", "モリ"},       {"池田", "イケダ"},     {"橋本", "ハシモト"},
    {"阿部", "アベ"},     {"石川", "イシカワ"}, {"前田", "マエダ"},     {"藤田", "フジタ"},
    {"小川", "オガワ"},   {"岡田", "オカダ"},   {"長谷川", "ハセガワ"}, {"村上", "ムラカミ"},
    {"近藤", "コンドウ"}, {"坂本", "サカモト"}, {"遠藤", "エンドウ"},   {"青木", "アオキ"},
    {"西村", "ニシムラ"}, {"福田", "フクダ"},   {"太田", "オオタ"},     {"十河", "ソゴウ"}};

constexpr Word kGivenNames[] = {
    {"健一", "ケンイチ"}, {"誠", "マコト"},   {"大輔", "ダイスケ"},   {"翔太", "ショウタ"},
    {"拓也", "タクヤ"},   {"直樹", "ナオキ"}, {"浩", "ヒロシ"},       {"修", "オサム"},
    {"隆", "タカシ"},     {"和也", "カズヤ"}, {"美咲", "ミサキ"},     {"陽子", "ヨウコ"},
    {"恵子", "ケイコ"},   {"由美", "ユミ"},   {"真由美", "マユミ"},   {"智子", "トモコ"},
    {"久美子", "クミコ"}, {"明美", "アケミ"}, {"さくら", "サクラ"},   {"葵", "アオイ"},
    {"結衣", "ユイ"},     {"彩", "アヤ"},     {"圭", "ケイ"},         {"康介", "コウスケ"},
    {"悠", "ユウ"},       {"亮", "リョウ"},   {"純一", "ジュンイチ"}, {"美穂", "ミホ"},
    {"千尋", "チヒロ"},   {"春樹", "ハルキ"}};

constexpr Publisher kPublishers[] = {
    {"青葉書房", "7701"}, {"みなと出版", "7712"}, {"北斗社", "7723"},     {"白鷺書店", "7734"},
    {"千草出版", "7745"}, {"さくら書院", "7756"}, {"東雲社", "7767"},     {"若葉書房", "7778"},
    {"銀河出版", "7789"}, {"朝霧書房", "7790"},   {"杜の都出版", "7801"}, {"表現社", "7812"}};

constexpr const char* kPlaces[] = {"港町",         "雪国の村",       "東京の下町",   "京都",
                                   "瀬戸内の小島", "山あいの温泉町", "北海道の牧場", "城下町"};
constexpr const char* kPeople[] = {"少女", "老人",       "若い刑事", "元教師",
                                   "画家", "双子の姉妹", "転校生",   "探偵"};
constexpr const char* kThemes[] = {"友情", "再生", "別れ", "秘密", "初恋", "家族の絆", "再会"};

constexpr const char* kLocations[] = {"1階 文庫・新書コーナー", "2階 一般書架", "1階 児童コーナー",
                                      "2階 参考図書コーナー"};

// How a book is bound decides its size, its price and page ranges and its shelf.
struct Format {
  const char* size;
  int minPrice, maxPrice, minPages, maxPages;
  int location;  // index into kLocations
};

constexpr Format kBunko = {"15cm", 400, 1200, 150, 600, 0};
constexpr Format kShinsho = {"18cm", 700, 1100, 180, 300, 0};
constexpr Format kTankobon = {"19cm", 1200, 2800, 200, 500, 1};
constexpr Format kLarge = {"26cm", 2000, 6000, 100, 300, 1};
constexpr Format kChildren = {"22cm", 1000, 1800, 30, 200, 2};

// Kanji of the realistic titles and given names, each with one reading.
constexpr Word kKanji[] = {
    {"山", "サン"},   {"川", "セン"},   {"花", "カ"},    {"月", "ゲツ"},   {"星", "セイ"},
    {"海", "カイ"},   {"空", "クウ"},   {"風", "フウ"},  {"雪", "セツ"},   {"雨", "ウ"},
    {"光", "コウ"},   {"影", "エイ"},   {"夢", "ム"},    {"恋", "レン"},   {"愛", "アイ"},
    {"心", "シン"},   {"春", "シュン"}, {"夏", "カ"},    {"秋", "シュウ"}, {"冬", "トウ"},
    {"朝", "チョウ"}, {"夜", "ヤ"},     {"白", "ハク"},  {"青", "セイ"},   {"赤", "セキ"},
    {"黒", "コク"},   {"金", "キン"},   {"銀", "ギン"},  {"石", "セキ"},   {"森", "シン"},
    {"林", "リン"},   {"水", "スイ"},   {"火", "カ"},    {"木", "モク"},   {"土", "ド"},
    {"天", "テン"},   {"地", "チ"},     {"人", "ジン"},  {"生", "セイ"},   {"時", "ジ"},
    {"旅", "リョ"},   {"道", "ドウ"},   {"街", "ガイ"},  {"家", "カ"},     {"国", "コク"},
    {"歌", "カ"},     {"詩", "シ"},     {"表", "ヒョウ"}};

// Kanji of the composed family names, first and second (山 + 田 is 山田), each with the
// reading it has there.
constexpr Word kSurnameFirst[] = {
    {"山", "ヤマ"}, {"中", "ナカ"},   {"小", "コ"},   {"大", "オオ"},  {"高", "タカ"},
    {"石", "イシ"}, {"松", "マツ"},   {"藤", "フジ"}, {"吉", "ヨシ"},  {"西", "ニシ"},
    {"北", "キタ"}, {"長", "ナガ"},   {"宮", "ミヤ"}, {"岡", "オカ"},  {"池", "イケ"},
    {"浜", "ハマ"}, {"今", "イマ"},   {"野", "ノ"},   {"平", "ヒラ"},  {"河", "カワ"},
    {"杉", "スギ"}, {"桜", "サクラ"}, {"竹", "タケ"}, {"東", "ヒガシ"}};
constexpr Word kSurnameSecond[] = {{"田", "ダ"},   {"川", "カワ"}, {"村", "ムラ"}, {"本", "モト"},
                                   {"井", "イ"},   {"木", "キ"},   {"野", "ノ"},   {"原", "ハラ"},
                                   {"島", "ジマ"}, {"橋", "ハシ"}, {"坂", "サカ"}, {"沢", "ザワ"},
                                   {"崎", "ザキ"}, {"谷", "タニ"}, {"口", "グチ"}, {"内", "ウチ"}};

template <typename T, std::size_t N>
constexpr std::uint32_t Count(const T (&)[N]) {
  return static_cast<std::uint32_t>(N);
}

// The finishing step of SplitMix64: 64 bits spread evenly from any number.
std::uint64_t Scramble(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// The name of author number n and its reading, the same for every book of the author:
// three in ten times one of the common family names (none above 1 % of the authors, as
// 佐藤 holds about 1.5 % of Japan), else one composed of two kanji (384 of them), and a
// given name of two kanji. Two authors may share a name, as they do in a catalogue.
void AuthorName(std::uint32_t n, std::string& name, std::string& kana) {
  const std::uint64_t h = Scramble(n + 0x5DEECE66DULL);
  if (h % 10 < 3) {
    const Word& family = kFamilyNames[(h >> 8) % Count(kFamilyNames)];
    name = family.text;
    kana = family.kana;
  } else {
    const Word& first = kSurnameFirst[(h >> 8) % Count(kSurnameFirst)];
    const Word& second = kSurnameSecond[(h >> 16) % Count(kSurnameSecond)];
    name = std::string(first.text) + second.text;
    kana = std::string(first.kana) + second.kana;
  }
  kana += ", ";
  const std::uint32_t given = (h >> 32) % (Count(kKanji) * Count(kKanji));
  name += kKanji[given / Count(kKanji)].text;
  name += kKanji[given % Count(kKanji)].text;
  kana += kKanji[given / Count(kKanji)].kana;
  kana += kKanji[given % Count(kKanji)].kana;
}

}  // namespace

SyntheticCatalogue::SyntheticCatalogue(std::uint64_t seed, std::uint64_t firstId, bool realistic)
    : state_(seed), nextId_(firstId), realistic_(realistic) {}

std::uint64_t SyntheticCatalogue::Bits() { return Scramble(state_ += 0x9E3779B97F4A7C15ULL); }

std::uint32_t SyntheticCatalogue::Below(std::uint32_t bound) {
  // The top 32 bits times the bound keep the bias below one in four billion.
  return static_cast<std::uint32_t>(((Bits() >> 32) * bound) >> 32);
}

std::uint32_t SyntheticCatalogue::LongTail(std::uint32_t head, std::uint32_t bound) {
  // A scale drawn evenly among head, 2 head, 4 head, ... (the last one cut at bound), then
  // a number below it: each doubling of the value is about as likely as the one before,
  // so beyond head the chance of a value falls as 1/x, while the first head values share
  // the top evenly, each about 2 / (head * scales).
  std::uint32_t scales = 1;
  while ((std::uint64_t{head} << (scales - 1)) < bound) ++scales;
  const std::uint64_t scale = std::uint64_t{head} << Below(scales);
  return Below(static_cast<std::uint32_t>(std::min<std::uint64_t>(scale, bound)));
}

void SyntheticCatalogue::Realistic(CatalogRecord& r) {
  constexpr std::uint32_t kPairs = Count(kKanji) * Count(kKanji);
  auto kanji = [&](std::uint32_t k, std::string& text, std::string& kana) {
    text += kKanji[k].text;
    kana += kKanji[k].kana;
  };
  // A word of two kanji: mostly any of them evenly; a fifth of the time from a long tail
  // of common words (their order scattered by a prime) whose head of 64 words is shared
  // evenly, so that no short title is held by thousands of books; three in ten times with
  // a third kanji before them, which makes it rare.
  auto word = [&](std::string& text, std::string& kana) {
    const std::uint32_t kind = Below(10);
    const std::uint32_t w = kind < 2 ? LongTail(64, kPairs) * 7919 % kPairs : Below(kPairs);
    if (kind >= 7) kanji(Below(Count(kKanji)), text, kana);
    kanji(w / Count(kKanji), text, kana);
    kanji(w % Count(kKanji), text, kana);
  };
  const std::uint32_t kind = Below(100);
  if (kind < 10 && !recent_.empty()) {
    // Another edition of a recent work: the publisher (drawn apart) differs.
    const Work& work = recent_[Below(static_cast<std::uint32_t>(recent_.size()))];
    r.title = work.title;
    r.titleKana = work.titleKana;
    r.author = work.author;
    r.authorKana = work.authorKana;
    return;
  }
  Work work;
  word(work.title, work.titleKana);
  if (Below(4) != 0) {
    static const Word kParticles[] = {{"の", " ノ "}, {"と", " ト "}, {"に", " ニ "}};
    const Word& particle = kParticles[Below(Count(kParticles))];
    work.title += particle.text;
    work.titleKana += particle.kana;
    word(work.title, work.titleKana);
  }
  if (kind < 30) {
    work.title += "―";
    work.titleKana += " ";
    word(work.title, work.titleKana);
    work.title += "の記録";
    work.titleKana += " ノ キロク";
  } else if (kind < 40) {
    const std::uint32_t volume = 1 + Below(12);
    work.title += " 第" + std::to_string(volume) + "巻";
    work.titleKana += " ダイ" + std::to_string(volume) + "カン";
  } else if (kind < 45) {
    const bool first = Below(2) == 0;
    work.title += first ? " 上" : " 下";
    work.titleKana += first ? " ジョウ" : " ゲ";
  }
  // The author, drawn by number from half a million: the 256 most productive share the
  // top evenly (each about 650 books in a million, as a popular novelist in a large
  // library), and beyond them productivity falls as 1/rank, so most authors write one
  // or two books. The name follows from the number alone.
  AuthorName(LongTail(256, 1u << 19), work.author, work.authorKana);
  r.title = work.title;
  r.titleKana = work.titleKana;
  r.author = work.author;
  r.authorKana = work.authorKana;
  constexpr std::size_t kRecentWorks = 4096;
  if (recent_.size() < kRecentWorks) {
    recent_.push_back(std::move(work));
  } else {
    recent_[Below(kRecentWorks)] = std::move(work);
  }
}

CatalogRecord SyntheticCatalogue::Next() {
  CatalogRecord r;
  r.bookId = std::to_string(nextId_++);

  const Word& family = kFamilyNames[Below(Count(kFamilyNames))];
  const Word& given = kGivenNames[Below(Count(kGivenNames))];
  r.author = std::string(family.text) + given.text;
  r.authorKana = std::string(family.kana) + ", " + given.kana;

  const Format* format;
  std::string ndc;
  std::uint32_t kind = Below(100);
  if (kind < 55) {
    // Fiction: a title made of two words and a pattern joining them.
    const Word& a = kNouns[Below(Count(kNouns))];
    const Word& b = kNouns[Below(Count(kNouns))];
    std::string at = a.text, ak = a.kana, bt = b.text, bk = b.kana;
    r.subject = "小説（日本）";
    switch (Below(7)) {
      case 0:
        r.title = at + "の" + bt;
        r.titleKana = ak + " ノ " + bk;
        break;
      case 1:
        r.title = at + "と" + bt;
        r.titleKana = ak + " ト " + bk;
        break;
      case 2:
        r.title = at + "の" + bt + "殺人事件";
        r.titleKana = ak + " ノ " + bk + " サツジン ジケン";
        r.subject = "推理小説";
        break;
      case 3:
        r.title = at + "物語";
        r.titleKana = ak + " モノガタリ";
        break;
      case 4:
        r.title = "さよなら、" + at;
        r.titleKana = "サヨナラ " + ak;
        break;
      case 5:
        r.title = at + "に" + bt + "を";
        r.titleKana = ak + " ニ " + bk + " オ";
        break;
      default:
        r.title = at + "は" + bt + "の中に";
        r.titleKana = ak + " ワ " + bk + " ノ ナカ ニ";
        break;
    }
    ndc = "913.6";
    format = Below(2) == 0 ? &kBunko : &kTankobon;
    r.contents = std::string(kPlaces[Below(Count(kPlaces))]) + "を舞台に、" +
                 kPeople[Below(Count(kPeople))] + "と" + kPeople[Below(Count(kPeople))] + "の" +
                 kThemes[Below(Count(kThemes))] + "を描く。";
  } else {
    const Topic& t = kTopics[Below(Count(kTopics))];
    std::string tt = t.text, tk = t.kana;
    r.subject = tt;
    ndc = t.ndc;
    format = &kTankobon;
    switch (Below(8)) {
      case 0:
        r.title = tt + "入門";
        r.titleKana = tk + " ニュウモン";
        break;
      case 1:
        r.title = "はじめての" + tt;
        r.titleKana = "ハジメテ ノ " + tk;
        break;
      case 2:
        r.title = tt + "の歴史";
        r.titleKana = tk + " ノ レキシ";
        format = &kShinsho;
        break;
      case 3:
        r.title = "図解 " + tt + "のしくみ";
        r.titleKana = "ズカイ " + tk + " ノ シクミ";
        format = &kLarge;
        break;
      case 4:
        r.title = "よくわかる" + tt;
        r.titleKana = "ヨク ワカル " + tk;
        break;
      case 5:
        r.title = tt + "の基礎知識";
        r.titleKana = tk + " ノ キソ チシキ";
        break;
      case 6:
        r.title = tt + "ハンドブック";
        r.titleKana = tk + " ハンドブック";
        break;
      default:
        r.title = "子どものための" + tt;
        r.titleKana = "コドモ ノ タメ ノ " + tk;
        format = &kChildren;
        break;
    }
    r.contents = tt + "の基本を、身近な例と図を使ってやさしく解説する。";
  }
  if (realistic_) Realistic(r);
  r.callNumber = ndc + "/" + std::string(r.authorKana, 0, 3);  // first katakana: 3 bytes

  const Publisher& publisher = kPublishers[Below(Count(kPublishers))];
  r.publisher = publisher.name;
  r.year = 1950 + static_cast<int>(Below(75));
  // Books printed before ISBNs came to Japan (1970s) carry none.
  if (*r.year >= 1975) {
    std::string twelve = std::string("9784") + publisher.registrant;
    std::uint32_t title = Below(10000);
    for (int divisor = 1000; divisor > 0; divisor /= 10)
      twelve += static_cast<char>('0' + title / divisor % 10);
    r.isbn = FormatJapanese13(twelve);
  }
  r.price = (format->minPrice + static_cast<int>(Below(format->maxPrice - format->minPrice + 1))) /
            10 * 10;
  r.pages = format->minPages + static_cast<int>(Below(format->maxPages - format->minPages + 1));
  r.size = format->size;
  r.location = kLocations[format->location];

  // Loan states: about 12% lent out, 3% reference (not for loan by class), 1% with
  // attachments that may not leave, 1% with attachments that may.
  r.loanClass = "0";
  std::uint32_t state = Below(1000);
  if (state < 120) {
    r.loanUser = std::to_string(2010000000ULL + Below(1000000));
    r.dueDate = "2025-0" + std::to_string(7 + Below(3)) + "-" + std::to_string(10 + Below(19));
  } else if (state < 150) {
    r.loanClass = "3";
    r.location = kLocations[3];
  } else if (state < 170) {
    r.attachCount = 1 + static_cast<int>(Below(2));
    if (state >= 160) r.attachMark = "1";
  }
  return r;
}

void WriteSyntheticCatalogue(std::ostream& out, std::uint64_t count, std::uint64_t seed,
                             std::uint64_t firstId, FileEncoding encoding, bool realistic) {
  std::unique_ptr<TextConverter> toShiftJis;
  if (encoding == FileEncoding::kShiftJis)
    toShiftJis = std::make_unique<TextConverter>("CP932", "UTF-8");
  out << "# Synthetic catalogue, seed " << seed << ", " << count << " books\n"
      << HeaderLine() << '\n';
  SyntheticCatalogue catalogue(seed, firstId, realistic);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::string line = FormatRecord(catalogue.Next());
    out << (toShiftJis ? toShiftJis->Convert(line) : line) << '\n';
  }
}

}  // namespace tools
