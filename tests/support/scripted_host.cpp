#include "tests/support/scripted_host.h"

namespace host {

namespace {
template <typename T>
T takeFront(std::deque<T>& queue, T whenEmpty) {
    if (queue.empty()) return whenEmpty;
    T front = queue.front();
    queue.pop_front();
    return front;
}
}  // namespace

void ScriptedHost::messageBox(const std::string& title, const std::string& text) {
    messages.push_back({title, text});
}

int ScriptedHost::questionBox(const std::string& title, const std::string& text, MessageIcon,
                              MessageButtons, int) {
    messages.push_back({title, text});
    return takeFront(questionAnswers, kButtonCancel);
}

DialogResult ScriptedHost::folderDialog(const std::string& title) {
    dialogTitles.push_back(title);
    return takeFront(folderAnswers, DialogResult{});
}

DialogResult ScriptedHost::fileOpenDialog(const std::string& title, const std::string&,
                                          const std::string& filters) {
    dialogTitles.push_back(title);
    dialogFilters.push_back(filters);
    return takeFront(openAnswers, DialogResult{});
}

SaveDialogResult ScriptedHost::fileSaveDialog(const std::string& title) {
    dialogTitles.push_back(title);
    return takeFront(saveAnswers, SaveDialogResult{});
}

bool ScriptedHost::startProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> line{program};
    line.insert(line.end(), args.begin(), args.end());
    startedPrograms.push_back(std::move(line));
    return startProgramResult;
}

void ScriptedHost::openWithAssociatedProgram(const std::string& path,
                                             std::function<void()> failed) {
    openedFiles.push_back(path);
    if (!openResult) failed();
}

}  // namespace host
