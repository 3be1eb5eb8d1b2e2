#pragma once
// Writes that fail part-way through, without root or a full disk: while a
// TFileSizeLimit lives, this process may not make a regular file larger than
// the limit. A write that crosses it stores what fits and then fails (EFBIG),
// as on a full file system; SIGXFSZ is ignored meanwhile, so that the
// failing write returns instead of ending the process. Both the limit and the
// signal's disposition are restored at the end.
//
// Keep the object's life short: test output to a file is limited too.

#include <csignal>
#include <sys/resource.h>

class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t Bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (::getrlimit(RLIMIT_FSIZE, &FOld) != 0)
      return;
    rlimit Lower = FOld;
    Lower.rlim_cur = Bytes;
    FActive = ::setrlimit(RLIMIT_FSIZE, &Lower) == 0;
  }
  ~TFileSizeLimit() {
    if (FActive)
      ::setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit &) = delete;
  TFileSizeLimit &operator=(const TFileSizeLimit &) = delete;

  // Whether the limit was set (it can always be lowered).
  bool Active() const { return FActive; }

private:
  rlimit FOld{};
  void (*FOldHandler)(int) = SIG_DFL;
  bool FActive = false;
};
