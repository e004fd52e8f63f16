// What is read off a file's bytes: the reference a field keeps, the media type by content, and
// pages counted from bytes that may lie.
#include <gtest/gtest.h>

#include <string>

#include "engine/files/file_facts.h"
#include "engine/files/hash_pipe.h"
#include "engine/files/pieces.h"
#include "engine/files/sha256.h"
#include "engine/files/stored_file.h"

namespace kvtfiles {
namespace {

TEST(FileRef, OnlyADigestAndANameAreAKeptFileAndPathsStayPaths) {
  const std::string sha(64, 'c');
  const auto ref = ParseFileRef("sha256:" + sha + "/scansioni/fattura 12.pdf");
  ASSERT_TRUE(ref);
  EXPECT_EQ(ref->sha256, sha);
  EXPECT_EQ(ref->name, "scansioni/fattura 12.pdf");
  EXPECT_EQ(FileRefText(*ref), "sha256:" + sha + "/scansioni/fattura 12.pdf");
  for (const std::string& path :
       {std::string("C:\\scansioni\\fattura.pdf"), std::string("/home/ufficio/fattura.pdf"),
        "sha256:" + std::string(63, 'c') + "/x", "sha256:" + std::string(64, 'C') + "/x",
        "sha256:" + sha, "sha256:" + sha + "x"}) {
    EXPECT_FALSE(ParseFileRef(path)) << path;
  }
  EXPECT_EQ(BaseName("C:\\scansioni\\fattura.pdf"), "fattura.pdf");
  EXPECT_EQ(BaseName("/home/a/b.tif"), "b.tif");
}

TEST(FileFacts, TheMediaTypeComesFromTheBytesNotTheName) {
  EXPECT_EQ(MediaTypeOf("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"), "application/pdf");
  EXPECT_EQ(MediaTypeOf(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), "image/png");
  EXPECT_EQ(MediaTypeOf(""), "application/x-empty");
}

TEST(FileFacts, PdfPagesAreTheRootCountWhereverThePiecesAreCut) {
  const std::string pdf =
      "%PDF-1.4\n1 0 obj << /Type /Outlines /Count 40 >> endobj\n"  // no page node
      "2 0 obj << /Type /Pages /Kids [3 0 R 4 0 R] /Count 12 >> endobj\n"
      "3 0 obj << /Type /Pages /Parent 2 0 R /Count 5 >> endobj\n"
      "4 0 obj << /Type /Page /Parent 2 0 R >> endobj\n%%EOF\n";
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64}, pdf.size()}) {
    PdfPageCounter c;
    for (std::size_t at = 0; at < pdf.size(); at += piece)
      c.Feed(std::string_view(pdf).substr(at, piece));
    EXPECT_EQ(c.Pages(), 12) << "pieces of " << piece;
  }
  PdfPageCounter huge;  // a count no real file has is not believed
  huge.Feed("<< /Type /Pages /Count 99999999999 >>");
  EXPECT_EQ(huge.Pages(), 0);
}

TEST(FileFacts, TiffPagesFollowTheDirectoriesAndStopAtALoopOrTheEnd) {
  // Little-endian header, then three directories of no entries: 8 → 14 → 20 → 0.
  auto tiff = [](std::uint32_t last_next) {
    std::string t("II*\0\x08\0\0\0", 8);
    for (std::uint32_t next : {14u, 20u, last_next}) {
      t += std::string("\0\0", 2);
      for (int i = 0; i < 4; ++i) t += static_cast<char>((next >> (8 * i)) & 0xff);
    }
    return t;
  };
  auto pages = [](const std::string& t) { return TiffPages(ReadAtBytes(t), t.size()); };
  EXPECT_EQ(pages(tiff(0)), 3);
  EXPECT_EQ(pages(tiff(8)), 3);         // back to the first: a loop, not pages without end
  EXPECT_EQ(pages(tiff(1u << 30)), 3);  // past the end of the file
  EXPECT_EQ(pages("MM\0*"), 0);
  EXPECT_EQ(pages("%PDF-1.4"), 0);
}

// Files one after another, more bytes than the pipe holds at once: each digest is its own file's.
TEST(HashPipe, EachFileGetsItsOwnDigestInOrderWhateverIsQueued) {
  HashPipe pipe;
  std::vector<std::string> files;
  std::vector<std::future<std::string>> digests;
  for (int i = 0; i < 6; ++i) {
    std::string bytes(3 * HashPipe::kMaxQueued / 4 + static_cast<std::size_t>(i), 'a');
    bytes[static_cast<std::size_t>(i)] = 'b';
    for (std::size_t at = 0; at < bytes.size(); at += 1 << 20) {
      pipe.Add(std::string_view(bytes).substr(at, 1 << 20));
    }
    digests.push_back(pipe.End());
    files.push_back(std::move(bytes));
  }
  digests.push_back(pipe.End());  // a file of no bytes
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(digests[i].get(), Sha256Of(files[i]));
  EXPECT_EQ(digests.back().get(), Sha256Of(""));
}

// Bytes of 3 whole pieces and a bit, no two pieces alike.
std::string FourPieces() {
  std::string bytes(3 * kPieceBytes + 1234, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 9);
  return bytes;
}

// What a check by pieces hands on from `bytes` given in parts of `cut` bytes, and whether it
// ended well.
std::pair<std::string, bool> CheckedRead(const std::string& digests, std::int64_t size,
                                         const std::string& bytes, std::size_t cut) {
  std::string out;
  PieceCheck check(digests, size, [&](std::string_view p) {
    EXPECT_LE(p.size(), kPieceBytes);
    out += p;
  });
  for (std::size_t at = 0; at < bytes.size(); at += cut) {
    std::string part = check.Spare();
    part.assign(bytes, at, cut);
    if (!check.Add(std::move(part))) return {out, false};
  }
  return {out, check.End()};
}

TEST(PieceCheck, CheckedPiecesAreHandedOnInOrderAndNothingFromTheFirstBadOne) {
  const std::string bytes = FourPieces();
  const auto size = static_cast<std::int64_t>(bytes.size());
  PieceDigests list;
  for (std::size_t at = 0; at < bytes.size(); at += 100000) {
    list.Add(std::string_view(bytes).substr(at, 100000));
  }
  const std::string digests = list.End();
  ASSERT_EQ(digests.size(), 4 * kDigestBytes);
  EXPECT_EQ(digests.substr(3 * kDigestBytes), Sha256Bytes(bytes.substr(3 * kPieceBytes)));
  EXPECT_TRUE(PieceDigestsFit(digests, size));
  EXPECT_FALSE(PieceDigestsFit(digests, size + static_cast<std::int64_t>(kPieceBytes)));
  EXPECT_FALSE(PieceDigestsFit(Sha256Bytes("x"), 1));  // one piece: its digest is the file's

  // Read in whole pieces, or cut anywhere: the same bytes in the same order.
  for (std::size_t cut : {kPieceBytes, std::size_t{65536}, kPieceBytes + 1, std::size_t{999}}) {
    const auto [out, good] = CheckedRead(digests, size, bytes, cut);
    EXPECT_TRUE(good) << cut;
    EXPECT_TRUE(out == bytes) << cut;
  }
  // A byte gone bad in the third piece: the two before are handed on, nothing after them.
  std::string bad = bytes;
  bad[2 * kPieceBytes + 10] ^= 1;
  const auto [out, good] = CheckedRead(digests, size, bad, kPieceBytes);
  EXPECT_FALSE(good);
  EXPECT_TRUE(out == bytes.substr(0, 2 * kPieceBytes));
  // A byte short or a byte more than the file has is not the file.
  EXPECT_FALSE(CheckedRead(digests, size, bytes.substr(0, bytes.size() - 1), kPieceBytes).second);
  EXPECT_FALSE(CheckedRead(digests, size, bytes + "x", kPieceBytes).second);
  EXPECT_FALSE(CheckedRead(digests, size, bytes.substr(0, 2 * kPieceBytes), kPieceBytes).second);
}

}  // namespace
}  // namespace kvtfiles
