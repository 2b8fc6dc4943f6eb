#include "net/fetchfailure.h"

#include <curl/curl.h>

#include <cstring>

FetchFailure FailureOfTransfer(int curlCode, const char* detail) {
  const auto code = static_cast<CURLcode>(curlCode);
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      // Also what the library says of a reply that starts without a status line, as the bytes a server
      // sent beyond its previous reply do.
      return detail != nullptr && std::strstr(detail, "HTTP/0.9") != nullptr ? FetchFailure::kBadFraming
                                                                             : FetchFailure::kRefusedAddress;
    case CURLE_URL_MALFORMAT:
      return FetchFailure::kRefusedAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_SSL_CONNECT_ERROR:
      return FetchFailure::kConnection;
    case CURLE_OPERATION_TIMEDOUT:
      // The library words a low-speed failure as "Operation too slow"; every other time limit is a time-out.
      return detail != nullptr && std::strstr(detail, "too slow") != nullptr ? FetchFailure::kTooSlow
                                                                             : FetchFailure::kTimedOut;
    case CURLE_PARTIAL_FILE:
      return FetchFailure::kCutShort;
    case CURLE_FILESIZE_EXCEEDED:
      return FetchFailure::kTooLarge;
    case CURLE_WEIRD_SERVER_REPLY:
      return FetchFailure::kBadFraming;
    case CURLE_TOO_MANY_REDIRECTS:
      return FetchFailure::kHttpStatus;
    case CURLE_ABORTED_BY_CALLBACK:
      return FetchFailure::kStopped;
    default:
      return FetchFailure::kOther;
  }
}

// Plain words for a failed transfer; the library's own detail follows in parentheses when it has one.
std::string TransferErrorText(int curlCode, const char* detail) {
  const auto code = static_cast<CURLcode>(curlCode);
  std::string words;
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      words = "the address is not an http or https address";
      break;
    case CURLE_URL_MALFORMAT:
      words = "the address is malformed";
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      words = "the server name could not be resolved";
      break;
    case CURLE_COULDNT_CONNECT:
      words = "could not connect to the server";
      break;
    case CURLE_OPERATION_TIMEDOUT:
      words = "the server did not answer in time";
      break;
    case CURLE_PARTIAL_FILE:
      words = "the reply was cut short";
      break;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      words = "the connection was lost";
      break;
    case CURLE_TOO_MANY_REDIRECTS:
      words = "too many redirects";
      break;
    case CURLE_ABORTED_BY_CALLBACK:
      words = "the fetch was stopped";
      break;
    default:
      words = curl_easy_strerror(code);
      break;
  }
  if (detail && *detail) words += std::string(" (") + detail + ")";
  return words;
}

std::string_view FetchFailureKey(FetchFailure failure) {
  switch (failure) {
    case FetchFailure::kNone:
      return "none";
    case FetchFailure::kNoAddress:
      return "no-address";
    case FetchFailure::kRefusedAddress:
      return "refused-address";
    case FetchFailure::kHttpStatus:
      return "http-status";
    case FetchFailure::kTimedOut:
      return "timed-out";
    case FetchFailure::kTooSlow:
      return "too-slow";
    case FetchFailure::kTooLarge:
      return "too-large";
    case FetchFailure::kCutShort:
      return "cut-short";
    case FetchFailure::kBadFraming:
      return "bad-framing";
    case FetchFailure::kConnection:
      return "connection";
    case FetchFailure::kNoSpace:
      return "no-space";
    case FetchFailure::kWriteError:
      return "write-error";
    case FetchFailure::kNotImage:
      return "not-image";
    case FetchFailure::kNameRefused:
      return "name-refused";
    case FetchFailure::kNameTaken:
      return "name-taken";
    case FetchFailure::kStopped:
      return "stopped";
    case FetchFailure::kOther:
      return "other";
  }
  return "other";
}
