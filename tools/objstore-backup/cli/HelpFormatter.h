// HelpFormatter: --help in plain words. An option shows the kind of value it takes (N, SIZE,
// DIR, FILE, SPEC) and, at the end of its description, its default and whether it is required;
// CLI11's type and validator names and its flag defaults are left out.
#ifndef OBJSTORE_HOST_HELPFORMATTER_H_
#define OBJSTORE_HOST_HELPFORMATTER_H_

#include <CLI/CLI.hpp>
#include <string>

namespace objstore_host {

class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter();

  std::string make_option_name(const CLI::Option* option, bool isPositional) const override;
  std::string make_option_opts(const CLI::Option* option) const override;
  std::string make_option_desc(const CLI::Option* option) const override;
};

}  // namespace objstore_host

#endif  // OBJSTORE_HOST_HELPFORMATTER_H_
