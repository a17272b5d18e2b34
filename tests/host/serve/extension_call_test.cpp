// One request through an extension: the control block a server fills, the
// callbacks it answers, and the response that reaches the client.
#include "host/serve/extension_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "host/captured_request.h"
#include "host/control_block.h"
#include "host/extension_library.h"
#include "testing/fake_exchange.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

// The extension under test: whatever the running test puts here.
std::function<DWORD(EXTENSION_CONTROL_BLOCK*)> scripted;
DWORD TAVIK_CALLBACK ScriptedExtension(EXTENSION_CONTROL_BLOCK* block) {
  return scripted(block);
}

BOOL SendHead(EXTENSION_CONTROL_BLOCK* block, const char* status,
              const char* head) {
  return block->ServerSupportFunction(
      block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status),
      nullptr, reinterpret_cast<LPDWORD>(const_cast<char*>(head)));
}

BOOL Write(EXTENSION_CONTROL_BLOCK* block, const std::string& bytes) {
  DWORD count = static_cast<DWORD>(bytes.size());
  return block->WriteClient(block->ConnID, const_cast<char*>(bytes.data()),
                            &count, 0);
}

// The whole-answer bounds a test runs under: answers held and sent whole
// (the default), and sent as they are written.
constexpr size_t kWhole = kWholeAnswerBytes;
constexpr size_t kStreamed = 0;

class ExtensionCall : public ::testing::Test {
 protected:
  ExtensionCallOutcome Run(FakeRequest& request, FakeConnection& connection,
                           size_t whole_answer_bytes = kWhole) {
    ExtensionCallSetup setup;
    setup.extension = ScriptedExtension;
    setup.whole_answer_bytes = whole_answer_bytes;
    setup.script_name = "/search";
    setup.folder = {"/srv/site/guide", "/real/site/guide"};
    setup.default_server_name = "127.0.0.1";
    setup.max_body_bytes = 1 << 20;
    return RunExtensionCall(setup, request.facts(), &connection);
  }

  void TearDown() override { scripted = nullptr; }
};

TEST_F(ExtensionCall, TheSearchPageArrivesWholeWithItsLength) {
  TempTree site;
  site.Write("guide/intro.htm", "alpha\nbeta alpha\n");
  site.Write("news/a.htm", "Alpha\n");
  std::string error;
  const auto library = ExtensionLibrary::Load(TAVIK_LIBRARY_PATH, &error);
  ASSERT_TRUE(library) << error;

  FakeRequest request("POST", "/search");
  request.Header("Content-Type", "application/x-www-form-urlencoded")
      .WithContentLength(7);
  FakeConnection connection("q=alpha");
  ExtensionCallSetup setup;
  setup.extension = library->HttpExtensionProc();
  setup.folder = {site.root(), site.root()};
  setup.max_body_bytes = 1 << 20;
  const ExtensionCallOutcome outcome =
      RunExtensionCall(setup, request.facts(), &connection);
  EXPECT_EQ(outcome.return_value, DWORD{HSE_STATUS_SUCCESS});
  EXPECT_EQ(outcome.status_code, 200);

  // The head went with the page, once the search was over.
  ASSERT_EQ(connection.writes().size(), 1u);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(response.Field("Content-Type"), "text/html");
  EXPECT_FALSE(response.HasField("Transfer-Encoding"));
  EXPECT_EQ(response.Field("Content-Length"),
            std::to_string(response.raw_body.size()));
  EXPECT_EQ(response.Field("Connection"), "keep-alive");
  EXPECT_EQ(response.Field("Server"), "tavik-serve/1.0");
  EXPECT_TRUE(response.HasField("Date"));
  EXPECT_FALSE(connection.closes());

  // The body is what the extension writes when a test host captures it.
  const CapturedResponse captured =
      RunCapturedRequest(*library, "q=alpha", site.root());
  const std::string captured_http = captured.AsHttp();
  const std::string expected_body =
      captured_http.substr(captured_http.find("\r\n\r\n") + 4);
  EXPECT_EQ(response.raw_body, expected_body);
  EXPECT_EQ(outcome.body_bytes, expected_body.size());
  EXPECT_FALSE(outcome.streamed_past_bound);
  EXPECT_NE(expected_body.find("3 hit(s) found."), std::string::npos);
}

TEST_F(ExtensionCall, StreamedEachCallbackWriteIsOneConnectionWrite) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    SendHead(block, "200 OK", "Content-Type: text/plain\r\n\r\nstart");
    Write(block, "one");
    Write(block, "");  // sends nothing: an empty chunk would end the body
    Write(block, "two");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  Run(request, connection, kStreamed);
  ASSERT_EQ(connection.writes().size(), 4u);
  EXPECT_NE(connection.writes()[0].find("\r\n\r\n5\r\nstart\r\n"),
            std::string::npos);
  EXPECT_EQ(connection.writes()[1], "3\r\none\r\n");
  EXPECT_EQ(connection.writes()[2], "3\r\ntwo\r\n");
  EXPECT_EQ(connection.writes()[3], "0\r\n\r\n");
}

TEST_F(ExtensionCall, NothingReachesTheClientBeforeTheExtensionReturns) {
  static FakeConnection* watched = nullptr;
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_TRUE(
        SendHead(block, "200 OK", "Content-Type: text/html\r\n\r\n<p>"));
    EXPECT_TRUE(Write(block, "searching"));
    EXPECT_TRUE(Write(block, " found"));
    // Were the host to die now, the client (or the front server) would
    // have nothing of the answer, and could ask elsewhere.
    EXPECT_TRUE(watched->writes().empty());
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  watched = &connection;
  const ExtensionCallOutcome outcome = Run(request, connection);
  ASSERT_EQ(connection.writes().size(), 1u);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.Field("Content-Length"), "18");
  EXPECT_EQ(response.raw_body, "<p>searching found");
  EXPECT_EQ(outcome.body_bytes, 18u);
  EXPECT_FALSE(connection.closes());
}

// The framing of the same answers held whole and sent as they are written.
struct FramingCase {
  const char* name;
  size_t bound;
  const char* method;
  const char* version;
  const char* head;  // the extension's header text
  // Each WriteClient, and whether it is to succeed.
  std::vector<std::pair<std::string, bool>> writes;
  DWORD returned;
  // What the client gets: the fields ("" when missing), the body with its
  // chunks taken apart, the connection's fate and the count of writes.
  const char* content_length;
  const char* transfer_encoding;
  const char* connection;
  const char* body;
  bool closes;
  size_t write_count;
};

TEST_F(ExtensionCall, AnswersAreFramedByWhatTheHostKnowsWhenTheHeadGoes) {
  constexpr DWORD kOk = HSE_STATUS_SUCCESS;
  const std::string text = "Content-Type: text/html\r\n\r\nab";
  const std::vector<std::pair<std::string, bool>> cdef = {{"cd", true},
                                                          {"ef", true}};
  const FramingCase cases[] = {
      {"whole GET", kWhole, "GET", "1.1", text.c_str(), cdef, kOk, "6", "",
       "keep-alive", "abcdef", false, 1},
      {"streamed GET", kStreamed, "GET", "1.1", text.c_str(), cdef, kOk, "",
       "chunked", "keep-alive", "abcdef", false, 4},
      // HEAD: the length the body would have, and no body.
      {"whole HEAD", kWhole, "HEAD", "1.1", text.c_str(), cdef, kOk, "6", "",
       "keep-alive", "", false, 1},
      {"streamed HEAD", kStreamed, "HEAD", "1.1", text.c_str(), cdef, kOk, "",
       "chunked", "keep-alive", "", false, 1},
      // An HTTP/1.0 client that asks to keep the connection: with a length
      // it can; without one, the end of the connection ends the body.
      {"whole HTTP/1.0", kWhole, "GET", "1.0", text.c_str(), cdef, kOk, "6",
       "", "keep-alive", "abcdef", false, 1},
      {"streamed HTTP/1.0", kStreamed, "GET", "1.0", text.c_str(), cdef, kOk,
       "", "", "close", "abcdef", true, 3},
      // The extension's own length frames the body; bytes past it are
      // refused and the connection ends.
      {"whole declared length", kWhole, "GET", "1.1",
       "Content-Length: 5\r\n\r\nhe", {{"llo", true}, {"!", false}}, kOk,
       "5", "", "close", "hello", true, 1},
      {"streamed declared length", kStreamed, "GET", "1.1",
       "Content-Length: 5\r\n\r\nhe", {{"llo", true}, {"!", false}}, kOk,
       "5", "", "keep-alive", "hello", true, 2},
      // Short of its declared length: only the close tells the client;
      // held, the head says so.
      {"whole short body", kWhole, "GET", "1.1", "Content-Length: 10\r\n\r\n",
       {{"short", true}}, kOk, "10", "", "close", "short", true, 1},
      {"streamed short body", kStreamed, "GET", "1.1",
       "Content-Length: 10\r\n\r\n", {{"short", true}}, kOk, "10", "",
       "keep-alive", "short", true, 2},
      // An error return: what was written goes, and the connection closes.
      {"whole error return", kWhole, "GET", "1.1", "\r\n",
       {{"partial", true}}, HSE_STATUS_ERROR, "7", "", "close", "partial",
       true, 1},
      {"streamed error return", kStreamed, "GET", "1.1", "\r\n",
       {{"partial", true}}, HSE_STATUS_ERROR, "", "chunked", "keep-alive",
       "partial", true, 3},
  };
  for (const FramingCase& test : cases) {
    SCOPED_TRACE(test.name);
    scripted = [&test](EXTENSION_CONTROL_BLOCK* block) {
      EXPECT_TRUE(SendHead(block, "200 OK", test.head));
      for (const auto& [bytes, succeeds] : test.writes) {
        EXPECT_EQ(Write(block, bytes) != 0, succeeds) << bytes;
      }
      return test.returned;
    };
    FakeRequest request(test.method, "/search", test.version);
    if (std::string_view(test.version) == "1.0") {
      request.Header("Connection", "keep-alive");
    }
    FakeConnection connection;
    const ExtensionCallOutcome outcome = Run(request, connection, test.bound);
    const ParsedResponse response = ParseResponse(connection.written());
    EXPECT_EQ(response.status_line, "HTTP/1.1 200 OK");
    EXPECT_EQ(response.Field("Content-Length"), test.content_length);
    EXPECT_EQ(response.Field("Transfer-Encoding"), test.transfer_encoding);
    EXPECT_EQ(response.Field("Connection"), test.connection);
    std::string body = response.raw_body;
    if (*test.transfer_encoding != '\0' && *test.body != '\0') {
      ASSERT_TRUE(Dechunk(response.raw_body, &body)) << response.raw_body;
    }
    EXPECT_EQ(body, test.body);
    EXPECT_EQ(outcome.body_bytes, body.size());
    EXPECT_EQ(connection.closes(), test.closes);
    EXPECT_EQ(connection.writes().size(), test.write_count);
    EXPECT_FALSE(outcome.streamed_past_bound);
  }
}

TEST_F(ExtensionCall, AnAnswerPastTheBoundGoesAsItIsWritten) {
  static FakeConnection* watched = nullptr;
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_TRUE(SendHead(block, "200 OK", "\r\n12345"));
    EXPECT_TRUE(Write(block, "67890"));
    EXPECT_TRUE(watched->writes().empty());  // 10 bytes: within the bound
    EXPECT_TRUE(Write(block, "abc"));
    // The head, the 10 bytes held and these 3 went, chunked.
    EXPECT_EQ(watched->writes().size(), 2u);
    EXPECT_TRUE(Write(block, "de"));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  watched = &connection;
  const ExtensionCallOutcome outcome = Run(request, connection, 10);
  EXPECT_TRUE(outcome.streamed_past_bound);
  ASSERT_EQ(connection.writes().size(), 4u);
  EXPECT_EQ(connection.writes()[1], "3\r\nabc\r\n");
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.Field("Transfer-Encoding"), "chunked");
  std::string body;
  ASSERT_TRUE(Dechunk(response.raw_body, &body)) << response.raw_body;
  EXPECT_EQ(body, "1234567890abcde");
  EXPECT_EQ(outcome.body_bytes, 15u);
  EXPECT_FALSE(connection.closes());
}

TEST_F(ExtensionCall, TheClientsCloseIsHonoured) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  request.Header("Connection", "close");
  FakeConnection connection;
  Run(request, connection);
  EXPECT_EQ(ParseResponse(connection.written()).Field("Connection"), "close");
  EXPECT_TRUE(connection.closes());
}

TEST_F(ExtensionCall, AFullServerClosesTheConnection) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    SendHead(block, "200 OK", "\r\n");
    Write(block, "page");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  request.ServerCloses();
  FakeConnection connection;
  Run(request, connection);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.Field("Connection"), "close");
  EXPECT_TRUE(connection.closes());
  EXPECT_EQ(response.raw_body, "page");
}

TEST_F(ExtensionCall, NoHeadGivesA500Page) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    // A write before the head has nowhere to go.
    EXPECT_FALSE(Write(block, "stray"));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  const ExtensionCallOutcome outcome = Run(request, connection);
  EXPECT_EQ(outcome.status_code, 500);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(response.Field("Content-Length"),
            std::to_string(response.raw_body.size()));
  EXPECT_EQ(response.raw_body.find("stray"), std::string::npos);
  EXPECT_FALSE(connection.closes());
}

TEST_F(ExtensionCall, ABadHeadIsRefusedAndTheRequestGets500) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_FALSE(SendHead(block, "200 OK\r\nX-Injected: 1", "\r\n"));
    EXPECT_FALSE(SendHead(block, "200 OK", "not a field\r\n\r\n"));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  EXPECT_EQ(Run(request, connection).status_code, 500);
  EXPECT_EQ(connection.written().find("X-Injected"), std::string::npos);
}

TEST_F(ExtensionCall, OnlyOneHeadAndTheStatusTextAsGiven) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_TRUE(SendHead(block, "299 Quite Fine", "X-A: 1\r\n\r\n"));
    EXPECT_FALSE(SendHead(block, "200 OK", "X-B: 2\r\n\r\n"));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  EXPECT_EQ(Run(request, connection).status_code, 299);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 299 Quite Fine");
  EXPECT_FALSE(response.HasField("X-B"));
}

TEST_F(ExtensionCall, AMissingStatusIs200) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_TRUE(block->ServerSupportFunction(block->ConnID,
                                             HSE_REQ_SEND_RESPONSE_HEADER,
                                             nullptr, nullptr, nullptr));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  Run(request, connection);
  EXPECT_EQ(ParseResponse(connection.written()).status_line, "HTTP/1.1 200 OK");
}

TEST_F(ExtensionCall, SupportRequestsOtherThanTheTwoFail) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    SendHead(block, "200 OK", "\r\n");
    EXPECT_TRUE(block->ServerSupportFunction(
        block->ConnID, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr));
    for (DWORD code : {DWORD{0}, DWORD{1}, DWORD{2}, DWORD{5}, DWORD{1016}}) {
      EXPECT_FALSE(block->ServerSupportFunction(block->ConnID, code, nullptr,
                                                nullptr, nullptr))
          << code;
    }
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  Run(request, connection);
}

HCONN earlier_connection = nullptr;

TEST_F(ExtensionCall, CallbacksCheckTheirConnId) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    earlier_connection = block->ConnID;
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest first("GET", "/search");
  FakeConnection first_connection;
  Run(first, first_connection);

  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_NE(block->ConnID, earlier_connection);
    for (HCONN wrong :
         {earlier_connection, HCONN{nullptr},
          static_cast<HCONN>(static_cast<char*>(block->ConnID) + 1)}) {
      EXPECT_FALSE(block->ServerSupportFunction(
          wrong, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>("200 OK"),
          nullptr, nullptr));
      DWORD count = 1;
      char byte = 'x';
      EXPECT_FALSE(block->WriteClient(wrong, &byte, &count, 0));
      EXPECT_FALSE(block->ReadClient(wrong, &byte, &count));
      char name[] = "REQUEST_METHOD";
      char value[16];
      DWORD size = sizeof value;
      EXPECT_FALSE(block->GetServerVariable(wrong, name, value, &size));
    }
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest second("GET", "/search");
  FakeConnection connection;
  EXPECT_EQ(Run(second, connection).status_code, 500);
}

TEST_F(ExtensionCall, CallbacksFromAnotherThreadAreRefused) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    BOOL from_other_thread = 1;
    std::thread other(
        [&] { from_other_thread = SendHead(block, "200 OK", "\r\n"); });
    other.join();
    EXPECT_FALSE(from_other_thread);
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  EXPECT_EQ(Run(request, connection).status_code, 500);
}

TEST_F(ExtensionCall, TheControlBlockIsFilledAsAWindowsServerFillsIt) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_EQ(block->cbSize, sizeof(EXTENSION_CONTROL_BLOCK));
    EXPECT_EQ(block->dwVersion, kInterfaceVersion);
    EXPECT_NE(block->ConnID, nullptr);
    EXPECT_STREQ(block->lpszMethod, "POST");
    EXPECT_STREQ(block->lpszQueryString, "x=1");
    EXPECT_STREQ(block->lpszPathInfo, "/srv/site/guide");
    EXPECT_STREQ(block->lpszPathTranslated, "/real/site/guide");
    EXPECT_STREQ(block->lpszContentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(block->cbTotalBytes, 8u);
    EXPECT_EQ(block->cbAvailable, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block->lpbData), 8),
              "q=quokka");
    EXPECT_EQ(block->dwHttpStatusCode, 200u);
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search/guide");
  request.Header("Content-Type", "application/x-www-form-urlencoded")
      .WithContentLength(8)
      .Query("x=1");
  FakeConnection connection("q=quokka", 3);  // arrives in small pieces
  EXPECT_EQ(Run(request, connection).status_code, 200);
}

TEST_F(ExtensionCall, ALongBodyIsReadAheadThenReadByTheExtension) {
  const std::string posted(100 * 1024 + 7, 'b');
  static std::string read_back;
  read_back.clear();
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_EQ(block->cbTotalBytes, 100u * 1024 + 7);
    EXPECT_EQ(block->cbAvailable, kReadAheadBytes);
    read_back.assign(reinterpret_cast<char*>(block->lpbData),
                     block->cbAvailable);
    char piece[10000];
    for (;;) {
      DWORD size = sizeof piece;
      EXPECT_TRUE(block->ReadClient(block->ConnID, piece, &size));
      if (size == 0) break;
      read_back.append(piece, size);
    }
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search");
  request.WithContentLength(static_cast<int64_t>(posted.size()));
  FakeConnection connection(posted, 1000);
  Run(request, connection);
  EXPECT_EQ(read_back, posted);
  EXPECT_FALSE(connection.closes());
}

TEST_F(ExtensionCall, TheBodyLeftUnreadIsReadAfterTheCall) {
  const std::string posted(200 * 1024, 'b');
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search");
  request.WithContentLength(static_cast<int64_t>(posted.size()));
  FakeConnection connection(posted);
  Run(request, connection);
  EXPECT_EQ(connection.body_bytes_read(), posted.size());
  EXPECT_FALSE(connection.closes());
}

// civetweb ends a body read with 0 bytes when the client falls silent for
// its request timeout: short of the Content-Length, that is a body cut off,
// not a complete one.
TEST_F(ExtensionCall, ABodyCutShortIsNotSearched) {
  static bool called;
  called = false;
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    called = true;
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search");
  request.WithContentLength(100);
  FakeConnection connection("q=quokka");  // 8 of the 100 bytes, then 0
  const ExtensionCallOutcome outcome = Run(request, connection);
  EXPECT_FALSE(called);
  EXPECT_EQ(outcome.status_code, 400);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(response.Field("Connection"), "close");
  EXPECT_TRUE(connection.closes());
}

// The server stopped waiting for a body that came too slowly: 408, and
// neither a search nor a kept connection.
TEST_F(ExtensionCall, ABodyTooSlowGets408AndIsNotSearched) {
  bool called = false;
  scripted = [&](EXTENSION_CONTROL_BLOCK*) {
    called = true;
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search");
  request.WithContentLength(100);
  FakeConnection connection("q=a", 1);
  connection.FallBehind();
  const ExtensionCallOutcome outcome = Run(request, connection);
  EXPECT_FALSE(called);
  EXPECT_EQ(outcome.status_code, 408);
  const ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 408 Request Timeout");
  EXPECT_EQ(response.Field("Connection"), "close");
  EXPECT_TRUE(connection.closes());
}

TEST_F(ExtensionCall, ABodyCutShortAfterTheReadAheadFailsReadClient) {
  const std::string sent(kReadAheadBytes + 1000, 'b');
  static int read_failures;
  static DWORD total_read;
  read_failures = 0;
  total_read = 0;
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    total_read = block->cbAvailable;
    char piece[4096];
    for (;;) {
      DWORD size = sizeof piece;
      if (!block->ReadClient(block->ConnID, piece, &size)) {
        ++read_failures;
        break;
      }
      if (size == 0) break;
      total_read += size;
    }
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search");
  request.WithContentLength(static_cast<int64_t>(sent.size()) + 1);
  FakeConnection connection(sent);
  Run(request, connection);
  EXPECT_EQ(total_read, sent.size());
  EXPECT_EQ(read_failures, 1);
  EXPECT_TRUE(connection.closes());
}

TEST_F(ExtensionCall, AChunkedBodyHasNoKnownTotal) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_EQ(block->cbTotalBytes, kUnknownTotalBytes);
    EXPECT_EQ(block->cbAvailable, 5u);
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("POST", "/search");
  request.Header("Transfer-Encoding", "chunked");
  FakeConnection connection("q=abc");
  Run(request, connection);
}

TEST_F(ExtensionCall, ARequestWithoutBodyReadsNothing) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_EQ(block->cbTotalBytes, 0u);
    EXPECT_EQ(block->cbAvailable, 0u);
    EXPECT_NE(block->lpbData, nullptr);
    char byte;
    DWORD size = 1;
    EXPECT_TRUE(block->ReadClient(block->ConnID, &byte, &size));
    EXPECT_EQ(size, 0u);
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection("not a body");
  Run(request, connection);
  EXPECT_EQ(connection.body_bytes_read(), 0u);
}

// A search with a URL reaches the extension as it came: its query string
// in lpszQueryString, and no posted data but a body.
TEST_F(ExtensionCall, TheQueryStringIsNoPostedData) {
  struct Case {
    const char* method;
    const char* query;
    const char* body;  // nullptr: none
    const char* posted;
  };
  const Case kCases[] = {
      {"GET", "q=quokka", nullptr, ""},
      {"HEAD", "q=a+b%21", nullptr, ""},
      {"GET", "", nullptr, ""},
      {"POST", "q=query", "q=body", "q=body"},
      {"POST", "q=query", nullptr, ""},
  };
  for (const Case& item : kCases) {
    std::string posted;
    DWORD total = 0;
    std::string query;
    scripted = [&](EXTENSION_CONTROL_BLOCK* block) {
      posted.assign(reinterpret_cast<const char*>(block->lpbData),
                    block->cbAvailable);
      total = block->cbTotalBytes;
      query = block->lpszQueryString;
      char byte;
      DWORD size = 1;
      EXPECT_TRUE(block->ReadClient(block->ConnID, &byte, &size));
      EXPECT_EQ(size, 0u);
      SendHead(block, "200 OK", "\r\n");
      return DWORD{HSE_STATUS_SUCCESS};
    };
    FakeRequest request(item.method, "/search");
    request.Query(item.query);
    if (item.body != nullptr) {
      request.WithContentLength(static_cast<int64_t>(strlen(item.body)));
    }
    FakeConnection connection(item.body != nullptr ? item.body : "");
    Run(request, connection);
    EXPECT_EQ(posted, item.posted) << item.method << " " << item.query;
    EXPECT_EQ(total, posted.size()) << item.method << " " << item.query;
    EXPECT_EQ(query, item.query) << item.method << " " << item.query;
  }
}

TEST_F(ExtensionCall, ServerVariablesThroughTheCallback) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    char name[] = "SCRIPT_NAME";
    char value[8];
    DWORD size = sizeof value;
    EXPECT_TRUE(block->GetServerVariable(block->ConnID, name, value, &size));
    EXPECT_STREQ(value, "/search");
    EXPECT_EQ(size, 8u);

    char long_name[] = "PATH_TRANSLATED";
    size = sizeof value;
    EXPECT_FALSE(
        block->GetServerVariable(block->ConnID, long_name, value, &size));
    EXPECT_EQ(size, sizeof "/real/site/guide");

    char unknown[] = "NOT_A_VARIABLE";
    size = sizeof value;
    EXPECT_FALSE(
        block->GetServerVariable(block->ConnID, unknown, value, &size));
    EXPECT_FALSE(
        block->GetServerVariable(block->ConnID, nullptr, value, &size));
    EXPECT_FALSE(block->GetServerVariable(block->ConnID, name, value, nullptr));
    SendHead(block, "200 OK", "\r\n");
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  Run(request, connection);
}

TEST_F(ExtensionCall, StreamedWritesFailOnceTheClientIsGone) {
  static FakeConnection* gone = nullptr;
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_TRUE(SendHead(block, "200 OK", "\r\n"));
    gone->Disconnect();
    EXPECT_FALSE(Write(block, "lost"));
    EXPECT_FALSE(Write(block, "lost too"));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  gone = &connection;
  Run(request, connection, kStreamed);
  EXPECT_TRUE(connection.closes());
  EXPECT_EQ(connection.writes().size(), 1u);
}

TEST_F(ExtensionCall, AHeldAnswerWhoseClientIsGoneClosesTheConnection) {
  static FakeConnection* gone = nullptr;
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    EXPECT_TRUE(SendHead(block, "200 OK", "\r\n"));
    gone->Disconnect();
    // Held: the host learns of it only when the answer goes.
    EXPECT_TRUE(Write(block, "lost"));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  gone = &connection;
  const ExtensionCallOutcome outcome = Run(request, connection);
  EXPECT_TRUE(connection.closes());
  EXPECT_TRUE(connection.writes().empty());
  EXPECT_EQ(outcome.status_code, 200);
}

TEST_F(ExtensionCall, AsynchronousWritesAreRefused) {
  scripted = [](EXTENSION_CONTROL_BLOCK* block) {
    SendHead(block, "200 OK", "\r\n");
    DWORD count = 1;
    char byte = 'x';
    EXPECT_FALSE(
        block->WriteClient(block->ConnID, &byte, &count, HSE_IO_ASYNC));
    EXPECT_TRUE(block->WriteClient(block->ConnID, &byte, &count, HSE_IO_SYNC));
    return DWORD{HSE_STATUS_SUCCESS};
  };
  FakeRequest request("GET", "/search");
  FakeConnection connection;
  Run(request, connection);
}

}  // namespace
}  // namespace tavik::testing
