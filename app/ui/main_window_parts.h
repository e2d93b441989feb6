#pragma once
// The dialogs the main window opens, one function each, gathered here so that the window's code does
// not depend on how each is built, and tests can put recorders in their place.

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace kestrelle {

class SettingsStore;
class SlideShowProject;

// What the configuration dialog may ask of the main window while it is open.
struct ConfigurationRequests {
    std::function<void()> profilesChanged;  // refill the profile list
    std::function<void()> applyDefaults;    // apply the default durations and effect to every slide
};

// The answer to "Save changes to NAME?".
enum class SaveChangesAnswer { Save, Discard, Cancel };

struct MainWindowDialogs {
    // The generation dialog on the project (Start, after every check passed), writing `aviPath`.
    std::function<void(QWidget* owner, SettingsStore& store, SlideShowProject& project,
                       const std::string& aviPath)>
        generate;
    // The preview player on the project (it holds at least one photo).
    std::function<void(QWidget* owner, SettingsStore& store, SlideShowProject& project)> preview;
    // The configuration dialog, run modally.
    std::function<void(QWidget* owner, SettingsStore& store, const ConfigurationRequests& requests)>
        configure;
    // "Export Log file": the save dialog and the export.
    std::function<void(QWidget* owner)> exportLog;
    // The folder browser for the target folder; an empty result means Cancel.
    std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)> chooseFolder;
    // The About box.
    std::function<void(QWidget* owner)> about;
    // "Save changes to NAME?" with Save, Discard and Cancel.
    std::function<SaveChangesAnswer(QWidget* owner, const QString& name)> askSaveChanges;
    // The file dialog picking a project to open; empty means Cancel.
    std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)> openProjectFile;
    // The file dialog naming a project to write (the ".kestrelle" ending added when missing); empty means
    // Cancel.
    std::function<QString(QWidget* owner, const QString& title, const QString& suggestedPath)>
        saveProjectFile;
};

// The program's real dialogs.
MainWindowDialogs programDialogs();

}  // namespace kestrelle
