// The window's command ids. One id names one QAction in CCommandRegistry; the
// menus, the toolbar, the shortcuts and the customise dialog all refer to it.
#pragma once

namespace orvane::app::cmd {

enum : int {
    // File
    FileNew = 57600,
    FileOpen = 57601,
    FileSave = 57603,
    FileSaveAs = 57604,
    FilePrint = 57607,
    FileMru1 = 57616,  // to FileMru1 + 3
    AppExit = 57665,

    // Edit (the standard editing keys)
    EditCopy = 57634,
    EditCut = 57635,
    EditPaste = 57637,
    EditUndo = 57643,

    // Capture and levels
    StartRecord = 32780,
    StopRecord = 32781,
    StorageSettings = 32782,
    TransactionLevel = 32784,
    TransferLevel = 32785,
    HideSof = 32788,
    HideNak = 32789,
    HideBusState = 32790,
    ClearFilter = 32791,

    // Packet list
    SetTrigger = 32834,
    AddTrigger = 32835,
    FindSettings = 32846,
    SetFindCondition = 32847,
    FindPrevious = 32848,
    FindNext = 32849,
    TriggerSettings = 32850,
    GoToTrigger = 32851,
    AddMark = 32852,
    EditMark = 32853,
    DeleteMark = 32854,
    DeleteAllMarks = 32855,
    PreviousMark = 32856,
    NextMark = 32857,
    ToggleSubtree = 32859,
    CopyRows = 32860,

    // Window
    ViewToolBar = 59392,
    ViewStatusBar = 59393,
    NextPane = 57680,
    PreviousPane = 57681,
    Customize = 35001,

    // Help
    CheckUpdate = 32876,
    HelpTopics = 57667,
    About = 57664,

    // Panes: the show command of a pane is its id.
    PaneDevice = 4000,
    PaneDetail = 4002,
    PaneFirst = 4000,
    PaneLast = 5000,
    PluginPaneFirst = 4004,

    // Demonstration projects: DemoFirst + index.
    DemoFirst = 40000,
    DemoLast = 40100,
};

}  // namespace orvane::app::cmd
