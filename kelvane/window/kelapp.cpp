#include "kelvane/window/kelapp.h"

#include "host/fs.h"
#include "kelvane/kelvane_settings.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

kelapp::kelapp(host::Host& host)
    : host_(host), ap_path_(host::currentDirectory()), profile_(profilePath(ap_path_)) {}

kelapp::~kelapp() = default;

w_htmd& kelapp::open() {
    window_ = std::make_unique<w_htmd>(host_, profile_);
    return *window_;
}

}  // namespace kelvane
