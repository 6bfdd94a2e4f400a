#pragma once
// The one place where failures become internal error numbers: the
// dispatchers of the entry points and the workers of background jobs run
// their work through it.
#include "host/ErrorCodes.h"
#include "ip_misc/Errors.h"
#include "tcpip/ETcpIpError.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

// An internal error number, and the text IPERROR gives from then on (none
// for the failures that leave it as it was).
struct TFailure {
  std::int32_t Error = ErrNone;
  std::optional<std::string> Text;
};

template <typename Body> TFailure CatchFailures(Body &&body) noexcept {
  try {
    body();
    return {};
  } catch (const EConvertError &) {
    return {ErrConversion, std::nullopt};
  } catch (const ETcpIpError &e) {
    return {ErrProtocol, e.what()};
  } catch (const EFileError &e) {
    return {ErrLocalFile, e.what()};
  } catch (const EListIndexError &e) {
    return {ErrNoSuchEntry, e.what()};
  } catch (const EStateError &e) {
    return {e.Code, e.what()};
  } catch (const std::exception &e) {
    return {ErrInternal, e.what()};
  } catch (...) {
    return {ErrInternal, std::nullopt};
  }
}
