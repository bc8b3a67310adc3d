// The catalogue of error classes. Every error the program raises carries the
// class name and message that exception reports and syslog lines show, so the
// names below are part of the program's output and must not change.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace platform {

// Base of every error the program raises and catches. The run driver's
// top-level handler and the overlay stage's trap catch this class.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Exception("Exception", std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& ClassName() const { return class_name_; }
  const std::string& Message() const { return message_; }

 protected:
  Exception(std::string class_name, std::string message)
      : class_name_(std::move(class_name)), message_(std::move(message)) {}

 private:
  std::string class_name_;
  std::string message_;
};

#define VESK_DECLARE_ERROR(Name, Base)                                      \
  class Name : public Base {                                                \
   public:                                                                  \
    explicit Name(std::string message) : Base(#Name, std::move(message)) {} \
                                                                            \
   protected:                                                               \
    Name(std::string class_name, std::string message)                       \
        : Base(std::move(class_name), std::move(message)) {}                \
  }

// Operating-system failures outside the network and raster layers.
VESK_DECLARE_ERROR(EOSError, Exception);
// Raster layer: "Cannot open file \"%s\". %s" and "Cannot create file \"%s\". %s".
VESK_DECLARE_ERROR(EFOpenError, Exception);
VESK_DECLARE_ERROR(EFCreateError, Exception);
// Raster layer: "Bitmap image is not valid".
VESK_DECLARE_ERROR(EInvalidGraphic, Exception);
// Fetched content that lacks what the run relies on; the message names what
// is missing and where.
VESK_DECLARE_ERROR(EContentError, Exception);

// The HTTP client's family, rooted at EIdException.
VESK_DECLARE_ERROR(EIdException, Exception);
VESK_DECLARE_ERROR(EIdSocketError, EIdException);           // "Socket Error # %d\r\n%s"
VESK_DECLARE_ERROR(EIdReadTimeout, EIdException);           // "Read Timeout"
VESK_DECLARE_ERROR(EIdConnectTimeout, EIdException);        // "Connect timed out."
VESK_DECLARE_ERROR(EIdConnectException, EIdException);      // the failure text
VESK_DECLARE_ERROR(EIdConnClosedGracefully, EIdException);  // "Connection Closed Gracefully."
VESK_DECLARE_ERROR(EIdNotConnected, EIdException);          // "Not Connected"
VESK_DECLARE_ERROR(EIdReadLnMaxLineLengthExceeded, EIdException);  // "Max line length exceeded."
VESK_DECLARE_ERROR(EIdUnknownProtocol, EIdException);              // empty message
VESK_DECLARE_ERROR(EIdProtocolReplyError, EIdException);
// "TLS: " + the reason: a failed handshake, certificate check or TLS record.
VESK_DECLARE_ERROR(EIdTLSError, EIdException);

// A final status outside 2xx: the status line is the message, the body the
// error text.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
 public:
  EIdHTTPProtocolException(int error_code, std::string status_line, std::string error_text)
      : EIdProtocolReplyError("EIdHTTPProtocolException", std::move(status_line)),
        error_code_(error_code),
        error_text_(std::move(error_text)) {}
  int ErrorCode() const { return error_code_; }
  const std::string& ErrorMessage() const { return error_text_; }

 private:
  int error_code_;
  std::string error_text_;
};

#undef VESK_DECLARE_ERROR

// The message of EIdSocketError for a system error code and its text.
inline std::string SocketErrorMessage(int code, const std::string& text) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + text;
}

}  // namespace platform
