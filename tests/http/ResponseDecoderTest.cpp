// The response-head reader and the body decoders over bytes in memory,
// delivered in pieces as a network would: every response is also fed split
// at each byte and one byte at a time.
#include "http/ResponseDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Exceptions.h"

namespace {

using http::BodyDestination;
using http::InputBuffer;
using http::TIdHTTPResponse;

// Hands out the given pieces one per receive (a piece larger than the
// receive is split), then reports the close, or a time-out when stall is
// set.
class PieceSource : public http::ByteSource {
 public:
  explicit PieceSource(std::vector<std::string> pieces, bool stall = false)
      : pieces_(std::move(pieces)), stall_(stall) {}

  std::size_t Receive(char* buffer, std::size_t max_bytes) override {
    while (index_ < pieces_.size() && offset_ == pieces_[index_].size()) {
      ++index_;
      offset_ = 0;
    }
    if (index_ == pieces_.size()) {
      if (stall_) throw platform::EIdReadTimeout("Read Timeout");
      return 0;
    }
    std::size_t count = std::min(max_bytes, pieces_[index_].size() - offset_);
    std::memcpy(buffer, pieces_[index_].data() + offset_, count);
    offset_ += count;
    return count;
  }

 private:
  std::vector<std::string> pieces_;
  bool stall_;
  std::size_t index_ = 0;
  std::size_t offset_ = 0;
};

struct Decoded {
  TIdHTTPResponse response;
  std::string body;
};

// Reads one head (skipping 100 Continue heads) and its body.
Decoded Decode(PieceSource& source, std::size_t block = 32768) {
  InputBuffer input(source, block);
  Decoded decoded;
  http::HeadBudget budget;
  do {
    http::ReadResponseHead(input, decoded.response, http::kDefaultMaxLineLength, budget);
  } while (decoded.response.ResponseCode == 100);
  BodyDestination destination(decoded.body, http::kMaxBodyBytes);
  http::ReadBody(input, decoded.response, destination, http::kDefaultMaxLineLength);
  destination.Finish();
  return decoded;
}

Decoded DecodeWhole(const std::string& bytes) {
  PieceSource source({bytes});
  return Decode(source);
}

// Every way to cut the bytes in two, and one byte per receive, must give the
// same result as the whole.
void ExpectSameAtEverySplit(const std::string& bytes, const std::string& body) {
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    PieceSource source({bytes.substr(0, cut), bytes.substr(cut)});
    EXPECT_EQ(Decode(source).body, body) << "cut at " << cut;
  }
  PieceSource trickle({bytes});
  EXPECT_EQ(Decode(trickle, 1).body, body) << "one byte per receive";
}

TEST(ResponseDecoderTest, StatusCodeIsTheSecondWordOrMinusOne) {
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1 200 OK"), 200);
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1 200"), 200);
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1 404 Not Found"), 404);
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1 abc"), -1);
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1 2OO OK"), -1);
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1"), -1);
  EXPECT_EQ(http::ParseStatusCode(""), -1);
  EXPECT_EQ(http::ParseStatusCode("HTTP/1.1 99999999999999999999 Big"), -1);
}

TEST(ResponseDecoderTest, HeadFieldsAndContinuationLines) {
  Decoded decoded = DecodeWhole(
      "HTTP/1.1 200 OK\r\n"
      "Content-Type: text/html\r\n"
      "X-Long: first\r\n"
      "\t second \r\n"
      "connection:   Keep-Alive  \n"
      "Content-Length:  3 \r\n"
      "\r\n"
      "abc");
  const TIdHTTPResponse& response = decoded.response;
  EXPECT_EQ(response.ResponseText, "HTTP/1.1 200 OK");
  EXPECT_EQ(response.ResponseCode, 200);
  EXPECT_EQ(response.RawHeaders.Count(), 5u);
  EXPECT_EQ(response.RawHeaders.Values("x-long"), "first second");
  EXPECT_EQ(response.Connection, "Keep-Alive");
  EXPECT_EQ(response.ContentLength, 3);
  EXPECT_EQ(decoded.body, "abc");
}

TEST(ResponseDecoderTest, ContentLengthThatIsNoNumberMeansUntilClose) {
  for (const char* value : {"abc", "-5", "12abc", ""}) {
    Decoded decoded = DecodeWhole(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + value +
                                  "\r\n\r\nall of it");
    EXPECT_EQ(decoded.response.ContentLength, -1) << value;
    EXPECT_EQ(decoded.body, "all of it") << value;
  }
}

TEST(ResponseDecoderTest, RepeatedContentLengthsMustAgree) {
  // One length given twice, or as a list of repeats, is that length.
  for (const char* lines :
       {"Content-Length: 3\r\nContent-Length: 3\r\n", "Content-Length: 3, 3\r\n",
        "Content-Length: 3,3\r\ncontent-length: 3\r\n"}) {
    Decoded decoded = DecodeWhole(std::string("HTTP/1.1 200 OK\r\n") + lines + "\r\nabcdef");
    EXPECT_EQ(decoded.body, "abc") << lines;
    EXPECT_FALSE(decoded.response.ContentLengthConflict) << lines;
  }
  // Two lengths: neither can be trusted to end the body.
  for (const char* lines :
       {"Content-Length: 3\r\nContent-Length: 6\r\n", "Content-Length: 3, 6\r\n",
        "Content-Length: 0\r\nContent-Length: 6\r\n"}) {
    PieceSource source({std::string("HTTP/1.1 200 OK\r\n") + lines + "\r\nabcdef"});
    try {
      Decode(source);
      ADD_FAILURE() << lines << ": no error";
    } catch (const platform::EIdException& error) {
      EXPECT_EQ(error.Message(), "Response declares conflicting Content-Length values.") << lines;
    }
  }
}

TEST(ResponseDecoderTest, SignedOrPartlyBrokenContentLengthsAreRefused) {
  // A sign, or a value beside one that is no number: another reader may
  // take a length where this one would read to the close.
  for (const char* lines :
       {"Content-Length: 9, x\r\n", "Content-Length: +-3\r\n", "Content-Length: +5\r\n",
        "Content-Length: 3\r\nContent-Length: x\r\n", "Content-Length: \r\nContent-Length: 3\r\n",
        "Content-Length: 3, +3\r\n"}) {
    PieceSource source({std::string("HTTP/1.1 200 OK\r\n") + lines + "\r\nabcdef"});
    try {
      Decode(source);
      ADD_FAILURE() << lines << ": no error";
    } catch (const platform::EIdException& error) {
      EXPECT_EQ(error.Message(), "Response declares a malformed Content-Length value.") << lines;
    }
  }
}

TEST(ResponseDecoderTest, BodiesAtEverySplit) {
  ExpectSameAtEverySplit("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", "0123456789");
  ExpectSameAtEverySplit(
      "HTTP/1.1 100 Continue\r\n\r\n"
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nhello\r\n1;name=value\r\n \r\n6 ext\r\nworld!\r\n0\r\nTrailer: x\r\n\r\n",
      "hello world!");
  ExpectSameAtEverySplit("HTTP/1.0 200 OK\r\n\r\nuntil\r\nclose", "until\r\nclose");
}

TEST(ResponseDecoderTest, BytesAfterABodyStayForTheNextAnswer) {
  // Two answers back to back, as on a kept-alive connection: the first
  // body's decoder must leave the second answer's bytes in the buffer,
  // however the stream is cut and whichever way the body is read.
  std::string chunked_body(40000, 'c');
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9c40\r\n" +
                        chunked_body + "\r\n0\r\n\r\n";
  std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond";
  std::string both = chunked + second;
  for (std::size_t block : {std::size_t{32768}, std::size_t{4096}, std::size_t{5}}) {
    for (std::size_t cut = 0; cut <= both.size();
         cut += (cut < 60 || cut + 80 > both.size()) ? 1 : 997) {
      PieceSource source({both.substr(0, cut), both.substr(cut)});
      InputBuffer input(source, block);
      for (const std::string& expected : {chunked_body, std::string("second")}) {
        TIdHTTPResponse response;
        http::HeadBudget budget;
        http::ReadResponseHead(input, response, http::kDefaultMaxLineLength, budget);
        std::string body;
        BodyDestination destination(body, http::kMaxBodyBytes);
        http::ReadBody(input, response, destination, http::kDefaultMaxLineLength);
        destination.Finish();
        EXPECT_EQ(body, expected) << "block " << block << " cut " << cut;
      }
    }
  }
}

TEST(ResponseDecoderTest, LargeBodiesSurviveTheGrowthOfTheirStorage) {
  // Several megabytes of distinct bytes make the destination grow (and give
  // its old storage back) several times; every byte must arrive in place.
  std::string body(3 * 1024 * 1024 + 123, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (std::size_t offset = 0, size = 1; offset < body.size();
       offset += size, size = size * 3 + 1) {
    size = std::min(size, body.size() - offset);
    char line[32];
    std::snprintf(line, sizeof line, "%zx\r\n", size);
    chunked += line + body.substr(offset, size) + "\r\n";
  }
  chunked += "0\r\n\r\n";
  EXPECT_TRUE(DecodeWhole(chunked).body == body) << "chunked";
  EXPECT_TRUE(DecodeWhole("HTTP/1.0 200 OK\r\n\r\n" + body).body == body) << "until close";
  EXPECT_TRUE(DecodeWhole("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body)
                  .body == body)
      << "length";
}

TEST(ResponseDecoderTest, ChunkedIsMatchedWithoutRegardToCase) {
  for (const char* coding : {"chunked", "Chunked", "CHUNKED", "gzip, chunked"}) {
    Decoded decoded = DecodeWhole(std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: ") + coding +
                                  "\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
    EXPECT_EQ(decoded.body, "abc") << coding;
  }
}

TEST(ResponseDecoderTest, ChunkSizeLines) {
  EXPECT_EQ(http::ParseChunkSize("1a", 1000), 26u);
  EXPECT_EQ(http::ParseChunkSize("1a ext", 1000), 26u);
  EXPECT_EQ(http::ParseChunkSize("1a;ext=1", 1000), 26u);
  EXPECT_EQ(http::ParseChunkSize("1A\t;x", 1000), 26u);
  EXPECT_EQ(http::ParseChunkSize("0", 1000), 0u);
  for (const char* bad : {"", "g", "1x", "-1", "0x1a", " 1a", ";ext"})
    EXPECT_THROW(http::ParseChunkSize(bad, 1000), platform::EIdException) << bad;
  // A size past the limit is reported as too large, however many digits.
  EXPECT_GT(http::ParseChunkSize("3e9", 1000), 1000u);
  EXPECT_GT(http::ParseChunkSize("ffffffffffffffffffffffff", 1000), 1000u);
}

// Decoding that must fail: the error class and message.
struct Failure {
  const char* name;
  std::string bytes;
  std::string class_name;
  std::string message;
};

TEST(ResponseDecoderTest, BrokenAndHostileResponsesFail) {
  std::string many_lines = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 1001; ++i) many_lines += "X-" + std::to_string(i) + ": v\r\n";
  std::string big_head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 70; ++i) big_head += "X: " + std::string(16000, 'v') + "\r\n";
  const std::vector<Failure> failures = {
      {"short length body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n012345",
       "EIdConnClosedGracefully", "Connection Closed Gracefully."},
      {"close inside a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n01234",
       "EIdConnClosedGracefully", "Connection Closed Gracefully."},
      {"close before the last chunk",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n",
       "EIdConnClosedGracefully", "Connection Closed Gracefully."},
      {"chunk size not hexadecimal",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n",
       "EIdException", "Invalid chunk size line \"zz\"."},
      {"chunk longer than its size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n", "EIdException",
       "Chunk data longer than its chunk size."},
      {"huge chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffff\r\n",
       "EIdException", "Response body exceeds 268435456 bytes"},
      {"huge content length", "HTTP/1.1 200 OK\r\nContent-Length: 268435457\r\n\r\n",
       "EIdException", "Response body exceeds 268435456 bytes"},
      // A length past 64 bits is still a declared length, far past the limit.
      {"content length past 64 bits",
       "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nall of it",
       "EIdException", "Response body exceeds 268435456 bytes"},
      {"length and chunked together",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
       "3\r\nabc\r\n0\r\n\r\n",
       "EIdException", "Response declares both a Content-Length and the chunked transfer-coding."},
      {"close before the status line", "", "EIdConnClosedGracefully",
       "Connection Closed Gracefully."},
      // A plain request to a TLS port: an alert, or a handshake message.
      {"TLS alert", std::string("\x15\x03\x01\x00\x02\x02\x46", 7), "EIdException",
       http::kTlsAnswerMessage},
      {"TLS server hello", std::string("\x16\x03\x03\x00\x7a\x02", 6), "EIdException",
       http::kTlsAnswerMessage},
      {"over-long header line", "HTTP/1.1 200 OK\r\nX: " + std::string(16382, 'v') + "\r\n\r\n",
       "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."},
      {"over-long line without its end", "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'v'),
       "EIdReadLnMaxLineLengthExceeded", "Max line length exceeded."},
      {"1001 header lines", many_lines + "\r\n", "EIdException",
       "Response head has more than 1000 lines."},
      {"head over 1 MiB", big_head + "\r\n", "EIdException",
       "Response head is longer than 1048576 bytes."},
  };
  for (const Failure& failure : failures) {
    for (std::size_t block : {std::size_t{32768}, std::size_t{7}}) {
      PieceSource source({failure.bytes});
      try {
        Decode(source, block);
        ADD_FAILURE() << failure.name << ": no error";
      } catch (const platform::Exception& error) {
        EXPECT_EQ(error.ClassName(), failure.class_name) << failure.name;
        EXPECT_EQ(error.Message(), failure.message) << failure.name;
      }
    }
  }
}

TEST(ResponseDecoderTest, LimitsAreInclusive) {
  // A line of exactly the maximum length and 1000 header lines pass.
  Decoded decoded = DecodeWhole("HTTP/1.1 200 OK\r\nX: " + std::string(16381, 'v') +
                                "\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(decoded.response.RawHeaders[0].size(), 16384u);
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 999; ++i) head += "X: v\r\n";
  EXPECT_EQ(DecodeWhole(head + "Content-Length: 0\r\n\r\n").response.RawHeaders.Count(), 1000u);
}

TEST(ResponseDecoderTest, HeadCutByCloseKeepsTheLinesRead) {
  PieceSource source({"HTTP/1.1 404 Not Found\r\nServer: x\r\nContent-Le"});
  InputBuffer input(source);
  TIdHTTPResponse response;
  http::HeadBudget budget;
  EXPECT_TRUE(http::ReadResponseHead(input, response, http::kDefaultMaxLineLength, budget));
  EXPECT_EQ(response.ResponseCode, 404);
  EXPECT_EQ(response.Server, "x");
  EXPECT_EQ(response.RawHeaders.Count(), 1u);
}

TEST(ResponseDecoderTest, StalledBodyTimesOut) {
  PieceSource source({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"}, /*stall=*/true);
  EXPECT_THROW(Decode(source), platform::EIdReadTimeout);
}

TEST(ResponseDecoderTest, AnswersWithoutBodyReadNothing) {
  // A stalling source would time out if anything were read after the head.
  for (const char* status : {"HTTP/1.1 204 No Content", "HTTP/1.1 304 Not Modified"}) {
    PieceSource source({std::string(status) + "\r\n\r\n"}, /*stall=*/true);
    EXPECT_EQ(Decode(source).body, "") << status;
  }
  PieceSource zero({"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, /*stall=*/true);
  EXPECT_EQ(Decode(zero).body, "");
}

TEST(ResponseDecoderTest, ReadToCloseStopsAtTheLimit) {
  PieceSource fits({"0123456789"});
  InputBuffer input(fits, 4);
  std::string body;
  BodyDestination destination(body, 10);
  input.ReadToClose(destination);
  destination.Finish();
  EXPECT_EQ(body, "0123456789");

  PieceSource too_much({"0123456789A"});
  InputBuffer input2(too_much, 4);
  BodyDestination destination2(body, 10);
  EXPECT_THROW(input2.ReadToClose(destination2), platform::EIdException);
}

}  // namespace
