// Pieces shared by the loop page writers.
#pragma once

#include <string>
#include <string_view>

namespace zub32 {
struct Configuration;
}

namespace site {

// Where the pages send readers: the start of every picture address and of
// the refresh address, each ending in '/'.
struct PageAddresses {
  std::string pictures;
  std::string refresh;

  // The pages as always published: "https://" + host + "/vesk/" for the
  // pictures, "http://" + host + "/vesk/" for the refresh.
  static PageAddresses ForPublishHost(std::string_view host);
  // The configured site address when there is one, otherwise the publishing
  // host's addresses.
  static PageAddresses For(const zub32::Configuration& config);
};

// The current local date-time as StringOfString writes it, with every space
// removed; reads the clock once per call, so each place in a page that
// carries one gets a fresh value.
std::string CacheBuster();

// The clock's local date-time as "hh:nn:ss dd/mm/yy" with the locale's time
// and date separators: the creation time in a page's header comment.
std::string CreationTime();

// Appends one page line and its CR LF line end.
void AppendLine(std::string& page, std::string_view line);

// The skeleton both loop pages share, in page order.

// From "<!DOCTYPE html>" to "  <head>": the comment head with the creation
// time, version and program name.
void AppendCommentHead(std::string& page, std::string_view version, std::string_view self_name);

// The order of a box rule's properties: the fixed layers and the 30-minute
// overlays put the background first, the frames and the 24-hour archive put
// the position first.
enum class PropertyOrder { kBackgroundFirst, kPositionFirst };

// One ".<class>" rule of a picture box, 600 pixels high across the page, and
// the blank line after it unless blank_after is false.
struct BoxRule {
  std::string css_class;
  int z_index = 0;
  std::string picture;  // file name, with its query when it has one
  bool shown = false;
  PropertyOrder order = PropertyOrder::kBackgroundFirst;
  bool blank_after = true;
};
void AppendBoxRule(std::string& page, const PageAddresses& addresses, const BoxRule& rule);

// From "    <style>" through the container rule and the rules of the four
// map layers of the product (background, topography, locations, range),
// each shown or not as the page wants it.
void AppendLayerRules(std::string& page, const PageAddresses& addresses, const std::string& product,
                      const bool (&shown)[4]);

// From the end of the style sheet to the four layer divs, with the page's
// title.
void AppendLayerDivs(std::string& page, std::string_view title);

// From the end of the container to "    {" of the animation's interval
// function: the layers' displays and the first index i1 of the loop.
void AppendScriptOpening(std::string& page, int first_index);

}  // namespace site
