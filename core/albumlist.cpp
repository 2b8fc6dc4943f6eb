#include "core/albumlist.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "core/albumpage.h"
#include "core/currentpreview.h"
#include "core/textutil.h"
#include "core/xmldoc.h"
#include "json/qzjson.h"
#include "net/fetchtofile.h"
#include "regex/regengine.h"

namespace {

void RemoveFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// The file as text: its lines (split at CR LF, CR or LF) each followed by CR LF.
std::string ReadLinesJoined(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream raw;
  raw << in.rdbuf();
  const std::string bytes = raw.str();
  std::string text;
  text.reserve(bytes.size() + 2);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    text.append(bytes, start, end - start).append("\r\n");
    if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return text;
}

// The text of a member that must be text or a number; no value otherwise.
bool MemberText(const TqzJSONobject* object, std::u16string_view name, std::string& text) {
  if (object == nullptr) return false;
  const TqzJSONbase* node = object->FieldByName(name);
  if (node == nullptr || (node->Kind() != jsString && node->Kind() != jsNumber)) return false;
  text = VariantText(node->AsVariant());
  return true;
}

const TqzJSONobject* AsObject(const TqzJSONbase* node) {
  return dynamic_cast<const TqzJSONobject*>(node);
}

// Reads the three hosts from the route reply; false when the reply does not name them.
bool ReadHosts(const std::string& routeFile, PreviewResult& result) {
  std::string text = ReadLinesJoined(routeFile);
  try {
    TRegEngine engine;
    engine.SetExpression("photoDomainNameCallback\\((.*?)\\)");
    if (engine.Exec(text)) text = engine.MatchText(1);
  } catch (const ERegEngine&) {
    return false;
  }
  const std::unique_ptr<TqzJSONbase> root = TqzJSON::ParseValue(text);
  const TqzJSONobject* object = AsObject(root.get());
  if (object == nullptr) return false;
  std::string key;
  if (!MemberText(AsObject(object->FieldByName(u"domain")), u"default", key)) return false;
  const TqzJSONobject* hosts = AsObject(object->FieldByName(Utf8ToWide(key)));
  return MemberText(hosts, u"p", result.albumListHost) && MemberText(hosts, u"s", result.photoListHost) &&
         MemberText(hosts, u"nu", result.albumViewHost);
}

}  // namespace

std::string AlbumEntryLine(std::string_view id, std::string_view priv, std::string_view name,
                           std::string_view total, std::string_view desc) {
  return TrimBlanks(id) + "|" + TrimBlanks(priv) + "|" + TrimBlanks(name) + "|" + TrimBlanks(total) + "|" +
         TrimBlanks(desc);
}

std::string PreviewDoneMessage(std::string_view qqNumber) {
  return "成功获取相册列表，请点击下面的“开始下载QQ相册”按钮，\n\r将" + std::string(qqNumber) +
         "的相册下载到你的本地机器！";
}

bool WalkAlbumList(XmlNode node, int clientNumber, PreviewResult& result) {
  int n = static_cast<int>(result.albumEntries.size());
  int passes = 1;
  for (; node && passes <= kMaxAlbumNodes; ++passes, node = node.Next()) {
    if (!node.IsElement() || node.Name() != "album" || !node.Child("name")) continue;
    try {
      AlbumFields album;
      album.name = node.ChildText("name");
      album.pre = node.ChildText("pre");
      album.desc = node.ChildText("desc");
      album.total = node.ChildText("total");
      album.priv = node.ChildText("priv");
      album.id = node.ChildText("id");
      AppendPageLine(result.pageLines, result.qqNumber, AlbumBlock(n, album, clientNumber, result.qqNumber));
      result.albumEntries.push_back(
          AlbumEntryLine(album.id, album.priv, album.name, album.total, album.desc));
      result.albums.push_back({TrimBlanks(album.id), TrimBlanks(album.priv), TrimBlanks(album.name),
                               TrimBlanks(album.total), TrimBlanks(album.desc)});
      ++n;
    } catch (const EXmlUnreadable&) {
      // This album is left out; the others are numbered on without a gap.
    }
  }
  return node && passes > kMaxAlbumNodes;
}

void EndAlbumPage(PreviewOutcome& outcome, PreviewHost& host) {
  PreviewResult& result = outcome.result;
  AppendPageLine(result.pageLines, result.qqNumber, "</div>");
  if (FinishAlbumPage(result.pageLines, result.albumEntries.size())) {
    host.ShowAlbumPage(result);
    outcome.end = PreviewOutcome::End::kListed;
  } else {
    host.PreviewFailed(result);
    outcome.end = PreviewOutcome::End::kNoAlbumListed;
  }
  host.PreviewDone(result);
}

PreviewOutcome RetrieveAlbumList(const PreviewInput& input, PreviewHost& host) {
  if (input.site != nullptr) return RetrieveSiteAlbumList(input, host);
  using End = PreviewOutcome::End;
  PreviewOutcome outcome;
  PreviewResult& result = outcome.result;
  result.jobId = input.jobId;
  result.qqNumber = input.qqNumber;
  AppendPageLine(result.pageLines, result.qqNumber, HeaderLine());

  FetchOptions options;
  options.abort = input.fetchAbort;
  options.cookies = input.cookies;

  // An older reply must never stand in for this one.
  RemoveFile(input.routeFile);
  FetchToFile(RouteAddress(input.routeHost, input.qqNumber), input.routeFile, options);
  if (!FileExists(input.routeFile)) {
    host.RouteFailed(result);
    outcome.end = End::kRouteFailed;
    return outcome;
  }
  if (!ReadHosts(input.routeFile, result)) return outcome;

  RemoveFile(input.albumListFile);
  FetchToFile(AlbumListAddress(result.albumListHost, input.qqNumber), input.albumListFile, options);
  std::unique_ptr<XmlDocument> doc;
  try {
    doc = std::make_unique<XmlDocument>(XmlDocument::LoadFromFile(input.albumListFile));
  } catch (const EXmlDocument&) {
    return outcome;
  }
  const XmlNode data = doc->HasNodes() ? doc->TopLevel("data") : XmlNode();
  XmlNode node = data.Child("album");
  if (!node) {
    host.PreviewFailed(result);
    outcome.end = End::kNoAlbumList;
    return outcome;
  }

  result.listCut = WalkAlbumList(node, input.clientNumber, result);
  EndAlbumPage(outcome, host);
  return outcome;
}
