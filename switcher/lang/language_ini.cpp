// The language texts of the switcher, the configuration program and the
// setup custom action: UTF-8 without byte-order mark, LF line ends.
#include "switcher/lang/language_ini.h"

const char g_LanguageIniText[] = R"INI([GENERAL]
#0x0404=Chinese-ZH
#0x0804=Chinese-CN
#0x0409=English-USA
#0x0411=Japanese
#0x0412=Korean
LanguageIdentifier                      =
LanguageSupportsList                    =0x0409, 0x0404, 0x0804, 0x0411

[INSTALLATION]
SilenceMode                             =1
RebootAfterInstallation                 =0

[LANGUAGE_EN]
CUSTOMIZED_STRING                       =1
LANG_ID_IDENTIFIER                      =0x0409
#ObrinSwitcher
OSSWITCHER_IDS_SWITCH_CONTINUE          =Going to switch to android OS.

[LANGUAGE_ZH-CN]
CUSTOMIZED_STRING                       =1
LANG_ID_IDENTIFIER                      =0x0804
#ObrinSwitcher
OSSWITCHER_IDS_SWITCH_CONTINUE          =即将切换到 Android 操作系统。

[LANGUAGE_ZH-TW]
CUSTOMIZED_STRING                       =1
LANG_ID_IDENTIFIER                      =0x0404
#ObrinSwitcher
OSSWITCHER_IDS_SWITCH_CONTINUE          =即將切換至 Android 作業系統。

[LANGUAGE_JP]
CUSTOMIZED_STRING                       =1
LANG_ID_IDENTIFIER                      =0x0411
#ObrinSwitcher
OSSWITCHER_IDS_SWITCH_CONTINUE          =Android OS に切り替えます。

[LANGUAGE_EN]
CUSTOMIZED_STRING                       =0
LANG_ID_IDENTIFIER                      =0x0409
#Buttons
BTN_TEXT_OK                             =OK
BTN_TEXT_YES                            =Yes
BTN_TEXT_NO                             =No
BTN_TEXT_CANCEL                         =Cancel
BTN_TEXT_ABORT                          =Abort
BTN_TEXT_RETRY                          =Retry
BTN_TEXT_IGNORE                         =Ignore
BTN_TEXT_TRY                            =Try
BTN_TEXT_CONTINUE                       =Continue
CFGTOOL_IDS_INSTALL_WITH_LEGACY         =Dual OS cannot be installed when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_ENABLE_WITH_LEGACY          =Dual OS cannot be enabled when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_SWITCH_WITH_LEGACY          =OS switch cannot work when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_ERR_INVALID_PARAM           =Failed to launch ObrinInstaller.exe [Err=%d].
#ConfigTool
CFGTOOL_IDS_APP_TITLE                   =Obrin Config Utility
CFGTOOL_IDS_ABOUTBOX                    =&About Obrin Config Utility...
CFGTOOL_IDS_INSTALL_WITH_LEGACY         =Dual OS cannot be installed when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_ENABLE_WITH_LEGACY          =Dual OS cannot be enabled when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_SWITCH_WITH_LEGACY          =OS switch cannot work when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_ERR_INVALID_PARAM           =Failed to launch ObrinInstaller.exe [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_WMI              =Failed to send WMI commands [Err=%d].
CFGTOOL_IDS_ERR_LEGACY_ENABLED          =Failed to install Dual OS when BIOS Legacy Support is enabled [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_SERVICE          =Failed to send Windows Services commands [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_PARTITION        =Android Partition can't be parted [Err=%d].
CFGTOOL_IDS_ERR_SHRINK_PARTITION        =Windows Partition can't be shrunk [Err=%d].
CFGTOOL_IDS_ERR_EXTEND_PARTITION        =Windows Partition can't be extended [Err=%d].
CFGTOOL_IDS_ERR_COPY_DELETE_FILE        =Failed to do Copy/Delete operations on files [Err=%d].
CFGTOOL_IDS_ERR_UNZIP_ANDROID_IMG       =Failed to unzip Android Image [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_WIN_REG          =Failed to access Windows Registry [Err=%d].
CFGTOOL_IDS_ERR_ANDROID_NOT_FOUND       =Android System is not found [Err=%d].
CFGTOOL_IDS_ERR_GENERAL                 =General Error [Err=%d].
CFGTOOL_IDS_SWITCH_ENABLE               =Dual OS feature was disabled currently, do you want to enable it?
CFGTOOL_IDS_SWITCH_DISABLE              =Dual OS feature was enabled currently, do you want to disable it?
#ObrinSwitcher
OSSWITCHER_IDS_APP_TITLE                =Obrin Config Utility
OSSWITCHER_IDS_SWITCH_JUMP_LIST         =Launch Obrin Config Utility
OSSWITCHER_IDS_SWITCH_WITH_LEGACY       =OS switch cannot work when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
OSSWITCHER_IDS_SWITCH_REBOOT            =A reboot is required  to complete the process.
OSSWITCHER_IDS_SWITCH_CONTINUE          =Going to switch to another OS.
OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY =Obrin is not ready, maybe you need to reboot this platform.
#ObrinWixCA
WIXCA_IDS_REBOOT                        =A reboot is required to complete the process.
WIXCA_IDS_CONTINUE                      =Do you want to continue?

[LANGUAGE_ZH-TW]
CUSTOMIZED_STRING                       =0
LANG_ID_IDENTIFIER                      =0x0404
#Buttons
BTN_TEXT_OK                             =OK
BTN_TEXT_YES                            =是
BTN_TEXT_NO                             =否
BTN_TEXT_CANCEL                         =取消
BTN_TEXT_ABORT                          =中止
BTN_TEXT_RETRY                          =重試
BTN_TEXT_IGNORE                         =略過
BTN_TEXT_TRY                            =再試一次
BTN_TEXT_CONTINUE                       =繼續
#ConfigTool
CFGTOOL_IDS_APP_TITLE                   =Obrin Config Utility
CFGTOOL_IDS_ABOUTBOX                    =關於 Obrin Config Utility(&A)...
CFGTOOL_IDS_INSTALL_WITH_LEGACY         =啟用 BIOS 傳統支援 (Legacy Support) 時無法安裝雙作業系統。若要修正此問題，請重新啟動系統，在作業系統開機前按 F10 進入 BIOS 設定選單，然後前往「系統組態」頁面停用傳統支援。
CFGTOOL_IDS_ENABLE_WITH_LEGACY          =啟用 BIOS 傳統支援 (Legacy Support) 時無法啟用雙作業系統。若要修正此問題，請重新啟動系統，在作業系統開機前按 F10 進入 BIOS 設定選單，然後前往「系統組態」頁面停用傳統支援。
CFGTOOL_IDS_SWITCH_WITH_LEGACY          =啟用 BIOS 傳統支援 (Legacy Support) 時無法切換作業系統。若要修正此問題，請重新啟動系統，在作業系統開機前按 F10 進入 BIOS 設定選單，然後前往「系統組態」頁面停用傳統支援。
CFGTOOL_IDS_ERR_INVALID_PARAM           =無法啟動 ObrinInstaller.exe [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_WMI              =無法傳送 WMI 命令 [Err=%d]。
CFGTOOL_IDS_ERR_LEGACY_ENABLED          =啟用 BIOS 傳統支援時無法安裝雙作業系統 [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_SERVICE          =無法傳送 Windows 服務命令 [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_PARTITION        =無法建立 Android 磁碟分割 [Err=%d]。
CFGTOOL_IDS_ERR_SHRINK_PARTITION        =無法壓縮 Windows 磁碟分割 [Err=%d]。
CFGTOOL_IDS_ERR_EXTEND_PARTITION        =無法延伸 Windows 磁碟分割 [Err=%d]。
CFGTOOL_IDS_ERR_COPY_DELETE_FILE        =無法複製或刪除檔案 [Err=%d]。
CFGTOOL_IDS_ERR_UNZIP_ANDROID_IMG       =無法解壓縮 Android 映像檔 [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_WIN_REG          =無法存取 Windows 登錄 [Err=%d]。
CFGTOOL_IDS_ERR_ANDROID_NOT_FOUND       =找不到 Android 系統 [Err=%d]。
CFGTOOL_IDS_ERR_GENERAL                 =一般錯誤 [Err=%d]。
CFGTOOL_IDS_SWITCH_ENABLE               =雙作業系統功能目前已停用，要啟用嗎？
CFGTOOL_IDS_SWITCH_DISABLE              =雙作業系統功能目前已啟用，要停用嗎？
#ObrinSwitcher
OSSWITCHER_IDS_APP_TITLE                =Obrin Config Utility
OSSWITCHER_IDS_SWITCH_JUMP_LIST         =啟動 Obrin Config Utility
OSSWITCHER_IDS_SWITCH_WITH_LEGACY       =啟用 BIOS 傳統支援 (Legacy Support) 時無法切換作業系統。若要修正此問題，請重新啟動系統，在作業系統開機前按 F10 進入 BIOS 設定選單，然後前往「系統組態」頁面停用傳統支援。
OSSWITCHER_IDS_SWITCH_REBOOT            =需要重新開機才能完成此程序。
OSSWITCHER_IDS_SWITCH_CONTINUE          =即將切換至另一個作業系統。
OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY =Obrin 尚未就緒，您可能需要重新啟動此平台。
#ObrinWixCA
WIXCA_IDS_REBOOT                        =需要重新開機才能完成此程序。
WIXCA_IDS_CONTINUE                      =是否要繼續？

[LANGUAGE_ZH-CN]
CUSTOMIZED_STRING                       =0
LANG_ID_IDENTIFIER                      =0x0804
#Buttons
BTN_TEXT_OK                             =OK
BTN_TEXT_YES                            =是
BTN_TEXT_NO                             =否
BTN_TEXT_CANCEL                         =取消
BTN_TEXT_ABORT                          =中止
BTN_TEXT_RETRY                          =重试
BTN_TEXT_IGNORE                         =忽略
BTN_TEXT_TRY                            =再试一次
BTN_TEXT_CONTINUE                       =继续
#ConfigTool
CFGTOOL_IDS_APP_TITLE                   =Obrin Config Utility
CFGTOOL_IDS_ABOUTBOX                    =关于 Obrin Config Utility(&A)...
CFGTOOL_IDS_INSTALL_WITH_LEGACY         =启用 BIOS 传统支持 (Legacy Support) 时无法安装双操作系统。要解决此问题，请重新启动系统，在操作系统启动前按 F10 进入 BIOS 设置菜单，然后转到“系统配置”页面并禁用传统支持。
CFGTOOL_IDS_ENABLE_WITH_LEGACY          =启用 BIOS 传统支持 (Legacy Support) 时无法启用双操作系统。要解决此问题，请重新启动系统，在操作系统启动前按 F10 进入 BIOS 设置菜单，然后转到“系统配置”页面并禁用传统支持。
CFGTOOL_IDS_SWITCH_WITH_LEGACY          =启用 BIOS 传统支持 (Legacy Support) 时无法切换操作系统。要解决此问题，请重新启动系统，在操作系统启动前按 F10 进入 BIOS 设置菜单，然后转到“系统配置”页面并禁用传统支持。
CFGTOOL_IDS_ERR_INVALID_PARAM           =无法启动 ObrinInstaller.exe [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_WMI              =无法发送 WMI 命令 [Err=%d]。
CFGTOOL_IDS_ERR_LEGACY_ENABLED          =启用 BIOS 传统支持时无法安装双操作系统 [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_SERVICE          =无法发送 Windows 服务命令 [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_PARTITION        =无法创建 Android 分区 [Err=%d]。
CFGTOOL_IDS_ERR_SHRINK_PARTITION        =无法压缩 Windows 分区 [Err=%d]。
CFGTOOL_IDS_ERR_EXTEND_PARTITION        =无法扩展 Windows 分区 [Err=%d]。
CFGTOOL_IDS_ERR_COPY_DELETE_FILE        =无法复制或删除文件 [Err=%d]。
CFGTOOL_IDS_ERR_UNZIP_ANDROID_IMG       =无法解压缩 Android 映像 [Err=%d]。
CFGTOOL_IDS_ERR_ACCESS_WIN_REG          =无法访问 Windows 注册表 [Err=%d]。
CFGTOOL_IDS_ERR_ANDROID_NOT_FOUND       =未找到 Android 系统 [Err=%d]。
CFGTOOL_IDS_ERR_GENERAL                 =一般错误 [Err=%d]。
CFGTOOL_IDS_SWITCH_ENABLE               =双操作系统功能当前已禁用，是否要启用？
CFGTOOL_IDS_SWITCH_DISABLE              =双操作系统功能当前已启用，是否要禁用？
#ObrinSwitcher
OSSWITCHER_IDS_APP_TITLE                =Obrin Config Utility
OSSWITCHER_IDS_SWITCH_JUMP_LIST         =启动 Obrin Config Utility
OSSWITCHER_IDS_SWITCH_WITH_LEGACY       =启用 BIOS 传统支持 (Legacy Support) 时无法切换操作系统。要解决此问题，请重新启动系统，在操作系统启动前按 F10 进入 BIOS 设置菜单，然后转到“系统配置”页面并禁用传统支持。
OSSWITCHER_IDS_SWITCH_REBOOT            =需要重新启动才能完成此过程。
OSSWITCHER_IDS_SWITCH_CONTINUE          =即将切换到另一个操作系统。
OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY =Obrin 尚未就绪，可能需要重新启动此平台。
#ObrinWixCA
WIXCA_IDS_REBOOT                        =需要重新启动才能完成此过程。
WIXCA_IDS_CONTINUE                      =是否继续？

[LANGUAGE_JP]
CUSTOMIZED_STRING                       =0
LANG_ID_IDENTIFIER                      =0x0411
#Buttons
BTN_TEXT_OK                             =OK
BTN_TEXT_YES                            =Yes
BTN_TEXT_NO                             =No
BTN_TEXT_CANCEL                         =キャンセル
BTN_TEXT_ABORT                          =中止
BTN_TEXT_RETRY                          =再試行
BTN_TEXT_IGNORE                         =無視
BTN_TEXT_TRY                            =試行
BTN_TEXT_CONTINUE                       =続行
#ConfigTool
CFGTOOL_IDS_APP_TITLE                   =Obrin Config Utility
CFGTOOL_IDS_ABOUTBOX                    =&About Obrin Config Utility...
CFGTOOL_IDS_INSTALL_WITH_LEGACY         =Dual OS cannot be installed when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_ENABLE_WITH_LEGACY          =Dual OS cannot be enabled when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_SWITCH_WITH_LEGACY          =OS switch cannot work when BIOS Legacy Support is enabled. To fix the problem, please restart the system and press f10 to enter BIOS setup menu prior OS booting then go to System Configuration page and disable Legacy Support.
CFGTOOL_IDS_ERR_INVALID_PARAM           =Failed to launch ObrinInstaller.exe [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_WMI              =Failed to send WMI commands [Err=%d].
CFGTOOL_IDS_ERR_LEGACY_ENABLED          =Failed to install Dual OS when BIOS Legacy Support is enabled [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_SERVICE          =Failed to send Windows Services commands [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_PARTITION        =Android Partition can't be parted [Err=%d].
CFGTOOL_IDS_ERR_SHRINK_PARTITION        =Windows Partition can't be shrunk [Err=%d].
CFGTOOL_IDS_ERR_EXTEND_PARTITION        =Windows Partition can't be extended [Err=%d].
CFGTOOL_IDS_ERR_COPY_DELETE_FILE        =Failed to do Copy/Delete operations on files [Err=%d].
CFGTOOL_IDS_ERR_UNZIP_ANDROID_IMG       =Failed to unzip Android Image [Err=%d].
CFGTOOL_IDS_ERR_ACCESS_WIN_REG          =Failed to access Windows Registry [Err=%d].
CFGTOOL_IDS_ERR_ANDROID_NOT_FOUND       =Android System is not found [Err=%d].
CFGTOOL_IDS_ERR_GENERAL                 =General Error [Err=%d].
CFGTOOL_IDS_SWITCH_ENABLE               =Dual OS feature was disabled currently, do you want to enable it?
CFGTOOL_IDS_SWITCH_DISABLE              =Dual OS feature was enabled currently, do you want to disable it?
#ObrinSwitcher
OSSWITCHER_IDS_APP_TITLE                =Obrin Config Utility
OSSWITCHER_IDS_SWITCH_JUMP_LIST         =Obrin Config Utility を起動
OSSWITCHER_IDS_SWITCH_WITH_LEGACY       =BIOS のレガシー サポートが有効な場合、OS を切り替えることはできません。この問題を解決するには、システムを再起動し、OS の起動前に F10 キーを押して BIOS セットアップ メニューを開き、「システム構成」ページでレガシー サポートを無効にしてください。
OSSWITCHER_IDS_SWITCH_REBOOT            =処理を完了するには再起動が必要です。
OSSWITCHER_IDS_SWITCH_CONTINUE          =別の OS に切り替えます。
OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY =Obrin の準備ができていません。このプラットフォームの再起動が必要な可能性があります。
#ObrinWixCA
WIXCA_IDS_REBOOT                        =A reboot is required to complete the process.
WIXCA_IDS_CONTINUE                      =Do you want to continue?
)INI";
