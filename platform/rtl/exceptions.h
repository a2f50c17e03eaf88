#pragma once
// The exception family of the runtime. Every error the system raises derives from
// Exception, which carries the message text shown to the user.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

#define QV_DECLARE_EXCEPTION(Name, Base)                  \
  class Name : public Base {                              \
  public:                                                 \
    explicit Name(std::string message) : Base(std::move(message)) {} \
  }

// Raised to leave an operation quietly: handlers that show messages ignore it.
QV_DECLARE_EXCEPTION(EAbort, Exception);
QV_DECLARE_EXCEPTION(EListError, Exception);
QV_DECLARE_EXCEPTION(EStringListError, Exception);
QV_DECLARE_EXCEPTION(EConvertError, Exception);
QV_DECLARE_EXCEPTION(EStreamError, Exception);
QV_DECLARE_EXCEPTION(EFilerError, EStreamError);
QV_DECLARE_EXCEPTION(EReadError, EFilerError);
QV_DECLARE_EXCEPTION(EWriteError, EFilerError);
QV_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
QV_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
QV_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);
QV_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);
QV_DECLARE_EXCEPTION(EOutOfMemory, Exception);
// A Windows resource (a handle, a device context) could not be had: "Out of system resources".
QV_DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory);
QV_DECLARE_EXCEPTION(EResNotFound, Exception);
QV_DECLARE_EXCEPTION(EAbstractError, Exception);

QV_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
QV_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
QV_DECLARE_EXCEPTION(EInvalidOperation, Exception);
QV_DECLARE_EXCEPTION(EInvalidPointer, Exception);
QV_DECLARE_EXCEPTION(EInvalidCast, Exception);
QV_DECLARE_EXCEPTION(EInOutError, Exception);
QV_DECLARE_EXCEPTION(EOSError, Exception);
QV_DECLARE_EXCEPTION(ERangeError, Exception);
QV_DECLARE_EXCEPTION(EIntOverflow, Exception);
QV_DECLARE_EXCEPTION(EDivByZero, Exception);
QV_DECLARE_EXCEPTION(EZeroDivide, Exception);
QV_DECLARE_EXCEPTION(ERegistryException, Exception);
QV_DECLARE_EXCEPTION(EIniFileException, Exception);
QV_DECLARE_EXCEPTION(EThread, Exception);
QV_DECLARE_EXCEPTION(EComponentError, Exception);
QV_DECLARE_EXCEPTION(EClipboardException, Exception);

// Readers raise one message for many rules; beside it a refusal keeps the
// rule that fired (a few words, a static text), so a test or a log can tell
// them apart while the user sees the system's own text.
class TRefusalReason {
public:
  explicit TRefusalReason(const char* reason) : FReason(reason) {}
  virtual ~TRefusalReason() = default;
  const char* Reason() const { return FReason; }

private:
  const char* FReason;
};

// An error of the class Base that carries a reason.
template <class Base>
class ERefused : public Base, public TRefusalReason {
public:
  ERefused(std::string message, const char* reason) : Base(std::move(message)), TRefusalReason(reason) {}
};

// The rule an error names, else its message.
std::string RefusalOf(const Exception& error);

// Raises EAbort, the silent exception.
[[noreturn]] void Abort();
// Raises EOutOfMemory with the framework's text.
[[noreturn]] void OutOfMemoryError();
