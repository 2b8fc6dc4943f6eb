// Why a fetch failed: one kind a front end can count and name, and plain words for the transfer library's
// own result codes.
#pragma once

#include <string>
#include <string_view>

// Why a fetch failed, as one kind a front end can count and name.
enum class FetchFailure {
  kNone,
  kNoAddress,       ///< there was no address to fetch
  kRefusedAddress,  ///< not an http or https address, or malformed
  kHttpStatus,      ///< the server answered with an error status (or a redirect without a target)
  kTimedOut,        ///< no connection or no answer in time
  kTooSlow,         ///< the reply came slower than the low-speed floor for too long
  kTooLarge,        ///< the reply announced or carried more bytes than the cap
  kCutShort,        ///< fewer bytes arrived than announced
  kBadFraming,      ///< more bytes arrived than announced, or the reply could not be read as HTTP
  kConnection,      ///< the server could not be reached or the connection was lost
  kNoSpace,         ///< the disk (or the user's quota) is full
  kWriteError,      ///< another error while writing the file
  kNotImage,        ///< the reply was refused by the caller's check (for photos: not an image)
  kNameRefused,     ///< the disk does not take the file's name
  kNameTaken,       ///< another file already stands under that name (kept, as asked)
  kStopped,         ///< the caller's abort flag ended it
  kOther,
};

// Short fixed words for a failure kind ("http-status", "timed-out", "no-space", ...), used as keys in
// machine-readable summaries.
std::string_view FetchFailureKey(FetchFailure failure);

// The kind of a failed transfer from the library's result code and its error text.
FetchFailure FailureOfTransfer(int curlCode, const char* detail);
// Plain words for a failed transfer; the library's own detail follows in parentheses when it has one.
std::string TransferErrorText(int curlCode, const char* detail);
