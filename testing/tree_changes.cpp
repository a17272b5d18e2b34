#include "testing/tree_changes.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/pattern_match.h"
#include "request/search_request.h"

namespace tavik::testing {
namespace {

namespace fs = std::filesystem;

// "the" is everywhere (the hit cap), the last four are rare.
const char* const kWords[] = {"the",    "alpha", "Beta",   "gamma", "web",
                              "server", "index", "data",   "line",  "text",
                              "page",   "of",    "and",    "quokka", "marmot",
                              "zephyr", "Wombat"};
constexpr size_t kCommonWords = 13;

// What the file at `path` holds; empty when it is not a readable file (a
// link to a folder, say).
std::string ReadAll(const std::string& path) {
  std::string content;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      content.append(chunk, count);
    }
    std::fclose(file);
  }
  return content;
}

void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace

TreeChanger::TreeChanger(std::string root, std::string outside,
                         Choices& choices)
    : root_(std::move(root)), outside_(std::move(outside)), choices_(choices) {}

std::string TreeChanger::Full(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string TreeChanger::Line() {
  std::string line;
  if (choices_.Chance(4)) {
    // Longer than a piece: occurrences straddle piece boundaries.
    while (line.size() < 300 + choices_.Below(500)) line += "xy ";
  }
  const uint32_t words = 1 + choices_.Below(10);
  for (uint32_t i = 0; i < words; ++i) {
    const bool rare = choices_.Chance(3);
    line += kWords[rare ? kCommonWords + choices_.Below(4)
                        : choices_.Below(kCommonWords)];
    line += ' ';
  }
  if (choices_.Chance(2)) line += '\0';
  if (choices_.Chance(1)) line += '\x1a';
  if (choices_.Chance(3)) line += '\r';  // a lone CR, or one before CR LF
  line += choices_.Chance(20) ? "\r\n" : "\n";
  return line;
}

std::string TreeChanger::Content() {
  std::string content;
  // Now and then a document longer than the scanner's block.
  const size_t size = choices_.Chance(3) ? 70000 + choices_.Below(70000)
                                         : choices_.Below(3000);
  while (content.size() < size) content += Line();
  return content;
}

std::string TreeChanger::Name(bool folder) {
  static const char* const kDocumentEndings[] = {".htm", ".htm", ".HTM",
                                                 ".html", ".txt"};
  const std::string stem = (folder ? "f" : "d") + std::to_string(next_name_++);
  if (folder) return choices_.Chance(10) ? stem + ".htm" : stem;
  return stem + kDocumentEndings[choices_.Below(5)];
}

std::vector<std::string> TreeChanger::Documents() const {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root_, error), end;
       !error && it != end; it.increment(error)) {
    if (!it->is_directory(error) || it->is_symlink(error)) {
      found.push_back(fs::relative(it->path(), root_, error).generic_string());
    }
  }
  return found;
}

std::vector<std::string> TreeChanger::Folders() const {
  std::vector<std::string> found = {""};
  std::error_code error;
  for (fs::recursive_directory_iterator it(root_, error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      found.push_back(fs::relative(it->path(), root_, error).generic_string());
    }
  }
  return found;
}

std::vector<std::string> TreeChanger::Searched(const std::string& folder,
                                               bool below,
                                               uintmax_t size) const {
  std::vector<std::string> found;
  const auto take = [&](const fs::directory_entry& entry) {
    std::error_code error;
    const fs::file_status status = entry.symlink_status(error);
    if (!error && fs::is_regular_file(status) &&
        (status.permissions() & fs::perms::owner_write) != fs::perms::none &&
        NameMatchesPattern(entry.path().filename().string(),
                           kDocumentPattern) &&
        entry.file_size(error) >= size && !error) {
      found.push_back(
          fs::relative(entry.path(), root_, error).generic_string());
    }
  };
  std::error_code error;
  if (below) {
    for (fs::recursive_directory_iterator it(Full(folder), error), end;
         !error && it != end; it.increment(error)) {
      take(*it);
    }
  } else {
    for (fs::directory_iterator it(Full(folder), error), end;
         !error && it != end; it.increment(error)) {
      take(*it);
    }
  }
  return found;
}

std::string TreeChanger::Pick(const std::vector<std::string>& from) {
  return from.empty() ? std::string() : from[choices_.Below(
                                            static_cast<uint32_t>(from.size()))];
}

void TreeChanger::MakeTree(size_t documents) {
  std::error_code error;
  for (int i = 0; i < 3; ++i) WriteAll(outside_ + "/o" + std::to_string(i) + ".htm", Content());
  for (size_t i = 0; i < documents; ++i) {
    std::string folder = Pick(Folders());
    if (choices_.Chance(15) && folder.size() < 40) {
      folder = folder.empty() ? Name(true) : folder + "/" + Name(true);
      fs::create_directories(Full(folder), error);
    }
    WriteAll(Full(folder.empty() ? Name(false) : folder + "/" + Name(false)),
             Content());
  }
}

std::string TreeChanger::ChangeDocument(const std::string& document) {
  const std::string path = Full(document);
  std::error_code error;
  switch (choices_.Below(9)) {
    case 0:
      WriteAll(path, Content());
      return "rewrite " + document;
    case 1:
      std::ofstream(path, std::ios::binary | std::ios::app) << Line();
      return "append to " + document;
    case 2: {
      const auto size = fs::file_size(path, error);
      if (!error) fs::resize_file(path, size == 0 ? 0 : choices_.Below(static_cast<uint32_t>(size)), error);
      return "truncate " + document;
    }
    case 3: {
      // The same size, other bytes, and the write time as it was.
      const auto written = fs::last_write_time(path, error);
      std::string content = ReadAll(path);
      for (char& c : content) {
        if (c == 'a') c = 'o';
        else if (c == 'e') c = 'q';
      }
      WriteAll(path, content);
      if (!error) fs::last_write_time(path, written, error);
      return "same-size rewrite, write time kept, " + document;
    }
    case 4: {
      const auto written = fs::last_write_time(path, error);
      if (!error) fs::last_write_time(path, written - std::chrono::hours(1), error);
      return "write time set back an hour " + document;
    }
    case 5: {
      // Into another folder, maybe over a document there.
      const std::string folder = Pick(Folders());
      const std::string to = folder.empty() ? Name(false) : folder + "/" + Name(false);
      const std::vector<std::string> all = Documents();
      const std::string target = choices_.Chance(30) && !all.empty() ? Pick(all) : to;
      fs::rename(path, Full(target), error);
      return "rename " + document + " to " + target;
    }
    case 6:
      fs::remove(path, error);
      return "delete " + document;
    case 7: {
      fs::remove(path, error);
      fs::create_directories(path, error);
      WriteAll(path + "/" + Name(false), Content());
      return "replace the file " + document + " by a folder";
    }
    default: {
      const auto perms = fs::status(path, error).permissions();
      fs::permissions(path, (perms & fs::perms::owner_write) != fs::perms::none
                                ? fs::perms::owner_read
                                : fs::perms::owner_read | fs::perms::owner_write,
                      error);
      return "change the permissions of " + document;
    }
  }
}

std::string TreeChanger::ChangeFolder(const std::string& folder) {
  std::error_code error;
  const std::string path = Full(folder);
  switch (choices_.Below(5)) {
    case 0:
      fs::remove_all(path, error);
      return "delete the folder " + folder;
    case 1: {
      const std::string parent = Pick(Folders());
      const std::string to = parent.empty() ? Name(true) : parent + "/" + Name(true);
      fs::rename(path, Full(to), error);
      return "rename the folder " + folder + " to " + to;
    }
    case 2:
      fs::remove_all(path, error);
      WriteAll(path, Content());
      return "replace the folder " + folder + " by a file";
    case 3: {
      const auto perms = fs::status(path, error).permissions();
      fs::permissions(path, perms ^ fs::perms::others_read, error);
      return "change the permissions of the folder " + folder;
    }
    default: {
      // Swap two folders' contents by name.
      const std::string other = Pick(Folders());
      if (other.empty() || other == folder) return "nothing";
      const std::string spare = Full(Name(true));
      fs::rename(path, spare, error);
      fs::rename(Full(other), path, error);
      fs::rename(spare, Full(other), error);
      return "swap the folders " + folder + " and " + other;
    }
  }
}

std::string TreeChanger::MakeLink() {
  std::error_code error;
  const std::string folder = Pick(Folders());
  std::string at = folder.empty() ? Name(false) : folder + "/" + Name(false);
  const std::vector<std::string> documents = Documents();
  // Retarget an existing link now and then.
  for (const std::string& document : documents) {
    if (fs::is_symlink(Full(document), error) && choices_.Chance(50)) {
      at = document;
      fs::remove(Full(at), error);
      break;
    }
  }
  std::string target;
  switch (choices_.Below(3)) {
    case 0:
      target = Full(Pick(documents));
      break;
    case 1:
      target = outside_ + "/o" + std::to_string(choices_.Below(3)) + ".htm";
      break;
    default:
      target = Full(Pick(Folders()));
  }
  if (target == Full(at)) return "nothing";
  fs::create_symlink(target, Full(at), error);
  return "link " + at + " to " + target;
}

std::string TreeChanger::Change() {
  std::error_code error;
  const uint32_t roll = choices_.Below(100);
  if (roll < 60) {
    const std::string document = Pick(Documents());
    if (!document.empty()) return ChangeDocument(document);
  }
  if (roll < 70) {
    const std::string folder = Pick(Folders());
    WriteAll(Full(folder.empty() ? Name(false) : folder + "/" + Name(false)), Content());
    return "new document in " + folder;
  }
  if (roll < 78) {
    const std::string parent = Pick(Folders());
    const std::string folder = parent.empty() ? Name(true) : parent + "/" + Name(true);
    if (folder.size() > 60) return "nothing";
    fs::create_directories(Full(folder), error);
    for (uint32_t i = choices_.Below(3); i > 0; --i) {
      WriteAll(Full(folder + "/" + Name(false)), Content());
    }
    return "new folder " + folder;
  }
  if (roll < 90) {
    std::vector<std::string> folders = Folders();
    folders.erase(folders.begin());  // not the root itself
    const std::string folder = Pick(folders);
    if (!folder.empty()) return ChangeFolder(folder);
  }
  return MakeLink();
}

std::string TreeChanger::PutMark(const std::string& path) {
  // "kestrel" is in no document the changer writes; the number makes each
  // mark one no document held before.
  const std::string mark = "kestrel" + std::to_string(next_mark_++);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!file.write(mark.data(), static_cast<std::streamsize>(mark.size()))) {
    return "nothing";
  }
  marks_.push_back(mark);
  return "mark " + mark + " in " + path;
}

std::string TreeChanger::MarkKeepingSizeAndTime() {
  const std::string document = Pick(Searched("", true, 16));
  if (document.empty()) return "nothing";
  std::error_code error;
  const auto written = fs::last_write_time(Full(document), error);
  if (error) return "nothing";
  const std::string what = PutMark(Full(document));
  fs::last_write_time(Full(document), written, error);
  return what + ", its size and write time kept";
}

std::string TreeChanger::LinkSecondName() {
  std::error_code error;
  fs::remove(SecondName(), error);
  const std::string document = Pick(Searched("", true, 0));
  if (document.empty()) return "nothing";
  fs::create_hard_link(Full(document), SecondName(), error);
  return error ? "nothing" : "second name " + SecondName() + " for " + document;
}

std::string TreeChanger::WriteThroughSecondName() {
  std::error_code error;
  if (!fs::exists(SecondName(), error)) return "nothing";
  return PutMark(SecondName()) + " (the second name)";
}

std::string TreeChanger::FloodThenChangeAnotherFolder(uint32_t events) {
  const auto in = [](const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
  };
  // The other folder is the one with the most documents, so that each
  // change there has one to make.
  std::vector<std::string> folders = Folders();
  std::string other;
  size_t most = 0;
  for (const std::string& folder : folders) {
    const size_t count = Searched(folder, false, 0).size();
    if (count > most) {
      most = count;
      other = folder;
    }
  }
  std::erase(folders, other);
  std::error_code error;
  std::string flooded;
  if (folders.empty()) {
    flooded = in(other, Name(true));
    fs::create_directories(Full(flooded), error);
  } else {
    flooded = Pick(folders);  // "" is the root
  }
  // Each rename is two events: a name gone from the folder, a name made.
  const std::string names[2] = {Full(in(flooded, Name(false))),
                                Full(in(flooded, Name(false)))};
  WriteAll(names[0], "");
  for (uint32_t made = 0; made < events; made += 2) {
    fs::rename(names[made / 2 % 2], names[1 - made / 2 % 2], error);
  }
  fs::remove(names[0], error);
  fs::remove(names[1], error);
  const auto shown = [](const std::string& folder) {
    return folder.empty() ? std::string("the root") : folder;
  };
  std::string what = "flood " + shown(flooded) + " with " +
                     std::to_string(events) + " events; in " + shown(other) +
                     ":";
  std::vector<std::string> documents = Searched(other, false, 0);
  if (!documents.empty()) {
    what += " " + PutMark(Full(documents.back()));
    documents.pop_back();
  }
  if (!documents.empty()) {
    const std::string to =
        in(other, "d" + std::to_string(next_name_++) + ".htm");
    what += "; " + PutMark(Full(documents.back())) + ", renamed to " + to;
    fs::rename(Full(documents.back()), Full(to), error);
    documents.pop_back();
  }
  if (!documents.empty()) {
    fs::remove(Full(documents.back()), error);
    what += "; delete " + documents.back();
  }
  const std::string made =
      Full(in(other, "d" + std::to_string(next_name_++) + ".htm"));
  WriteAll(made, "\n" + Content());
  return what + "; new " + PutMark(made);
}

std::vector<std::string> TreeChanger::TakeMarks() {
  std::vector<std::string> taken;
  taken.swap(marks_);
  return taken;
}

std::string TreeChanger::Term() {
  switch (choices_.Below(8)) {
    case 0:  // absent
      return "zq" + std::to_string(choices_.Below(1000)) + "xv";
    case 1:  // rare
      return kWords[kCommonWords + choices_.Below(4)];
    case 2:  // common, to the cap
      return "the";
    case 3:  // short
      return choices_.Chance(50) ? "a" : "ta";
    case 4:  // ends in a line feed (a CR LF folded)
      return std::string(kWords[choices_.Below(kCommonWords)]) + " \n";
    case 5:  // holds a CR, which only a lone CR matches
      return " \r";
    case 6: {  // two words, maybe across a piece's end
      return std::string(kWords[choices_.Below(17)]) + " " +
             kWords[choices_.Below(17)];
    }
    default:
      return kWords[choices_.Below(17)];
  }
}

}  // namespace tavik::testing
