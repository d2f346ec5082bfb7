// Every text the updater shows, in one place: its boxes, the wizard's status
// texts and buttons and the dialog template's texts. The code that meets a
// problem picks one of these; no text the player sees is written anywhere
// else. Written in UTF-8 here; the compiler stores them as code page 932,
// the resource compiler (which reads the macros at the top) as UTF-16.
#pragma once

// The dialog template.
#define TEXT_INITIAL_CAPTION "UPDATE"
#define TEXT_NEXT "次へ"
#define TEXT_CANCEL "中止"
#define TEXT_BACK "戻る"
#define TEXT_STATUS_PLACEHOLDER "Info"
#define TEXT_DIALOG_FONT "ＭＳ Ｐゴシック"

#ifndef RC_INVOKED

// The caption of the configuration boxes, and the window's caption (game
// title, version) once the game is known; until then it is the template's.
inline constexpr char kTextConfigCaption[] = "KELDOVAR";
inline constexpr char kTextInitialCaption[] = TEXT_INITIAL_CAPTION;
inline constexpr char kTextCaption[] = "%s アップデート %s";

// Start-up.
inline constexpr char kTextPackageMissing[] = "UPDATE.FA2 not found";
inline constexpr char kTextResourceReadError[] = "RESOURCE READ ERROR";
inline constexpr char kTextScriptMissing[] = "UPDATE.INI not found at UPDATE.FA2";
// A made updater whose package is not the bytes that were packed (a download
// cut short or damaged on the way, a damaged disc).
inline constexpr char kTextPackageDamaged[] =
    "アップデートファイルが壊れています。もう一度ダウンロードして下さい";
inline constexpr char kTextNotInstalled[] = "「%s」がインストールされていません";
inline constexpr char kTextSetupIniMissing[] =
    "インストール先に \"SETUP.INI\" ファイルが見つかりません";
// An earlier update's journal that the updater may not act on (it names a
// place that has changed, or a restore step fails); the path is where its
// originals are kept.
inline constexpr char kTextCannotUndo[] =
    "前回のアップデートを元に戻せませんでした。元のファイルは \"%s\" にあります";
// An earlier update's journal or work folder (the path) that other users
// may have written or changed: not acted on, kept.
inline constexpr char kTextSharedJournal[] =
    "前回のアップデートの記録 \"%s\" は他のユーザーが変更できる状態のため使用できません。"
    "アップデートを中止します";
inline constexpr char kTextGameRunning[] =
    "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
    "アップデートを中止する場合は [キャンセル] を押して下さい";
inline constexpr char kTextInterrupted[] = "アップデートが中断されました";

// Reading the INI files and SETUP.INI.
inline constexpr char kTextKeyMissing[] = "%s : %s キーが存在しません";
inline constexpr char kTextSetupListError[] = "SETUP.INI : %s エラー";
inline constexpr char kTextSetupBmpsError[] = "SETUP.INI : SetupBmps エラー";
inline constexpr char kTextInstallSelectOver[] = "SETUP.INI : InstallSelect オーバー";
inline constexpr char kTextShortcutsOver[] = "SETUP.INI : Shortcuts オーバー";
// SETUP.INI's defaults for its two prompts (loaded, never shown here).
inline constexpr char kTextInstallDXDefault[] = "ＤｉｒｅｃｔＸをインストールする";
inline constexpr char kTextSelectSetupDefault[] = "インストール方法を選択して下さい";

// Writing a package entry.
inline constexpr char kTextEntryMissing[] = "Can't Find File in Resource !!";
inline constexpr char kTextNoMemory[] = "Can't Allocate Memory !!";
// The free-space shortage, in pieces around the drive and the byte count:
// "ディスク容量が足りません。" [a line break in the wizard] "C: ドライブに 5 バイトの空き容量が必要です".
inline constexpr char kTextNoSpace[] = "ディスク容量が足りません。";
inline constexpr char kTextNoSpaceDrive[] = " ドライブに ";
inline constexpr char kTextNoSpaceBytes[] = " バイトの空き容量が必要です";

// The wizard and the update run.
inline constexpr char kTextStartPage[] = "「%s」のアップデートを開始します";
inline constexpr char kTextConfirmPage[] = "アップデートを実行します";
inline constexpr char kTextRunning[] = "アップデートを実行しています";
inline constexpr char kTextCopying[] = "%s をコピーしています";
inline constexpr char kTextCompleted[] = "アップデートは完了しました";
inline constexpr char kTextFinishButton[] = "完了";
inline constexpr char kTextWriteFailed[] = "ファイルの書き込みに失敗しました";
inline constexpr char kTextNoLists[] = "No 'UpdateFileXX' and 'CopyFileXX'";
inline constexpr char kTextNothingToUpdate[] = "アップデートする必要のあるファイルはありません";
inline constexpr char kTextInsertDisc[] = "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい";
inline constexpr char kTextCopyFailed[] = "SETUP.INI : \"%s\" のコピーに失敗しました";
// A file of a disc that cannot be read, with Retry and Cancel.
inline constexpr char kTextDiscReadError[] =
    "\"%s\" を読み込めません。ディスクを確かめてから [再試行] を押して下さい";

#endif
