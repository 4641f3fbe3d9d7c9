// kelvane's start-up: where the settings file lies, and the main window.
#pragma once

#include <memory>
#include <string>

#include "host/host.h"

namespace kelvane {

class w_htmd;

class kelapp {
  public:
    // Reads the working directory once; the settings file lies there.
    explicit kelapp(host::Host& host);
    ~kelapp();

    const std::string& ap_path() const { return ap_path_; }
    const std::string& profile() const { return profile_; }
    // Opens the main window (throws std::runtime_error when its grid
    // definitions cannot be read).
    w_htmd& open();

  private:
    host::Host& host_;
    std::string ap_path_;
    std::string profile_;
    std::unique_ptr<w_htmd> window_;
};

}  // namespace kelvane
