#include "shell/dialogs/context_help.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QShortcut>
#include <QToolButton>
#include <QWhatsThis>

#include "settings/program_folders.h"

namespace weavil {
namespace {

std::string_view TrimLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return line;
}

void Finish(std::map<std::string, std::string>& topics, const std::string& topic, std::string& text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (!topic.empty()) topics[topic] = text;
  text.clear();
}

QByteArray ReadHelpFile() {
  const QString besideProgram =
      QString::fromStdString(ProgramDataDir(QCoreApplication::applicationDirPath().toStdString())) +
      QStringLiteral("help/cxthelp/help.txt");
  for (const QString& path : {besideProgram, QStringLiteral(":/help/cxthelp/help.txt")}) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) return file.readAll();
  }
  return {};
}

}  // namespace

std::map<std::string, std::string> ParseContextHelp(std::string_view text) {
  std::map<std::string, std::string> topics;
  std::string topic;
  std::string body;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = TrimLine(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.rfind(".topic ", 0) == 0) {
      Finish(topics, topic, body);
      std::string_view name = line.substr(7);
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      topic = std::string(name);
      continue;
    }
    if (body.empty() && line.empty()) continue;
    body.append(line).push_back('\n');
  }
  Finish(topics, topic, body);
  return topics;
}

const std::map<std::string, std::string>& ContextHelpTopics() {
  static const std::map<std::string, std::string> topics = [] {
    QByteArray data = ReadHelpFile();
    return ParseContextHelp(std::string_view(data.constData(), static_cast<size_t>(data.size())));
  }();
  return topics;
}

QString ContextHelpText(const QString& topic) {
  const auto& topics = ContextHelpTopics();
  auto found = topics.find(topic.toStdString());
  return found == topics.end() ? QString() : QString::fromUtf8(found->second);
}

void InstallContextHelp(QDialog* dialog, const QString& prefix) {
  for (QWidget* child : dialog->findChildren<QWidget*>()) {
    if (child->objectName().isEmpty()) continue;
    QString text = ContextHelpText(prefix + '.' + child->objectName());
    if (!text.isEmpty()) child->setWhatsThis(text);
  }
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, true);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), dialog);
  f1->setContext(Qt::WindowShortcut);
  QObject::connect(f1, &QShortcut::activated, dialog, [dialog] {
    // The focused control, or the nearest of its parents that has a text.
    for (QWidget* widget = dialog->focusWidget(); widget && widget != dialog; widget = widget->parentWidget()) {
      if (widget->whatsThis().isEmpty()) continue;
      QWhatsThis::showText(widget->mapToGlobal(QPoint(widget->width() / 2, widget->height())), widget->whatsThis(),
                           widget);
      return;
    }
  });
}

QToolButton* MakeWhatsThisButton(QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QStringLiteral("whatsThis"));
  button->setText(QStringLiteral("?"));
  button->setToolTip(QStringLiteral("What's this?"));
  button->setAutoRaise(true);
  QObject::connect(button, &QToolButton::clicked, [] { QWhatsThis::enterWhatsThisMode(); });
  return button;
}

}  // namespace weavil
