#pragma once
// The process parameters of the camera: delays and pulse times of the
// moulding cycle, which detection algorithms run, how the machine outputs
// react to OK and NG, how many templates and alarm images are kept, and the
// run mode of the flow. Exchanged as one JSON object with prefixed keys
// ("s_" system, "c_" camera algorithms, "i_" machine IO, "h_" advanced) and
// stored as that JSON text in PARAM.db, table "sysparam", row "paramsjson".
// A few "i_" values live in the IO frame and are read and written there.
//
// Threads: main thread only (the hub's), but GetTableValue; the IO values go
// through the IO frame's own lock. SQL runs on the hub's PARAM.db connection
// ("dbIn") with bound values.
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <atomic>

class FrameIO;
class QThread;

// Alarm-image limits per directory (OK and NG), copied from "h_okres_count"
// and "h_ngres_count"; the alarm-image writer reads them on its thread.
extern std::atomic<int> gPicNumOK;
extern std::atomic<int> gPicNumNG;

// What a parameter change needs of the hub around the parameter set.
class WizardParaHost {
public:
    virtual ~WizardParaHost() = default;
    // Appends one record ("operate" for the change record).
    virtual void InsertRecord(const QString& text, const QString& type) = 0;
    // Hands the new parameters to the main camera's regions; with
    // copyRegions the step's region set is copied between the detect steps
    // and the camera's regions are stored.
    virtual void applyToCamera(const QJsonObject& params, bool copyRegions) = 0;
    // Restarts work after a change (start/stop with state 0).
    virtual void restartWork() = 0;
    // Closes PARAM.db and RECORD.db before their files are replaced by a
    // project group, and opens them again when that failed. A host without
    // databases does nothing.
    virtual void closeDatabases() {}
    virtual void reopenDatabases() {}
};

class WizardPara {
public:
    // Every field 0 or false, except function_switches[1]. `host` and `io`
    // are not owned; either may be null (then records, camera hand-over and
    // IO values are skipped).
    explicit WizardPara(WizardParaHost* host = nullptr, FrameIO* io = nullptr);

    void setHost(WizardParaHost* host) { m_host = host; }
    void setFrameIO(FrameIO* io) { m_io = io; }

    // Loads the set from "paramsjson": an absent or empty row runs the legacy
    // import and stores its result; a row that is not a JSON object is kept
    // in "sysparam_broken", logged, and the range defaults apply.
    void LoadDatafromDB();
    // Stores the set as indented JSON into "paramsjson" (row created when
    // missing). False when it could not be stored (logged).
    bool SaveDatatoDB();
    // Every key of the set into out (existing keys overwritten).
    void GetParams(QJsonObject& out) const;
    // Takes the values of `in`, without the range check and without records.
    void SetParamfromJson(const QJsonObject& in);
    // The change sequence: change record, take, camera, flow, restart. Does
    // not store; the caller calls SaveDatatoDB.
    void SetParams(const QJsonObject& in);
    void SetFuncParams();
    // Replaces values outside their range by the range's replacement.
    void CheckParamRange();
    // "initstate_O1" ... "initstate_O4": whether output rest level n is set.
    void GetIO_Output_Defalut(QJsonObject& out) const;
    // The value of row `name` of `table`; empty when none or on error. The
    // one member any thread may call: off the set's own thread it reads on a
    // read-only connection of its own.
    QString GetTableValue(const QString& table, const QString& name) const;
    // Updates row `name`, inserting it when no row changed, in one
    // transaction: 0 when stored, -1 otherwise.
    int Replace_KeyValue(const QString& table, const QString& name, const QString& value);
    // The current group name, then the group directories of "./paraGroup"
    // ("default" left out), by name ignoring case.
    QStringList GetProjectList() const;

    // ---- Project groups under "./paraGroup/<name>" ----
    // A group name is one plain directory name: not empty, no "/", "\\" or
    // control character, not starting with "." (for a backup, after its
    // spaces and backslashes are removed). Anything else is refused (false,
    // logged) before a file is touched. The working entries of a group:
    // every "cammer*" entry, "PARAM.db", "RECORD.db", "workspace",
    // "originalimage" (missing ones skipped, links copied as links).
    //
    // Saves the working entries as group `name` and makes it the current
    // group ("project_name"). The copy is staged and replaces an older group
    // of that name only when complete; on failure the old group and
    // "project_name" stay. The factory group "default" is never written.
    bool BackupProject(QString name);
    // The plain-name rule above (also for other single names a request
    // brings, such as a template's file name).
    static bool isPlainGroupName(const QString& name);
    // Saves the working entries under the current group name (or
    // "backup_<yyyyMMdd>" when there is none), then replaces them by group
    // `name`: the group is staged first, the databases are closed and the
    // entries are swapped by renames. False, with the working files and
    // databases as before, when the group is missing, the backup or the
    // staging fails, or a rename fails (then everything is moved back).
    // After true the databases stay closed: the caller restarts the camera.
    bool ChangeProject(QString name);
    // Removes group `name`; never "default" or the current group. True when
    // it existed and is gone.
    bool DeleteProject(QString name);
    // Writes one "operate" record that lists every change `in` makes.
    void CheckParam(const QJsonObject& in) const;
    // Imports the parameter rows of the older per-row storage form.
    void LoadDatafromFile();

    // The change-record text for `in` in language column `lan`.
    QString changeText(const QJsonObject& in, int lan) const;

    // ---- fields, JSON key as name; "tenths" fields hold tenths of a second ----
    int function_switches[4] = {0, 1, 0, 0};
    bool s_with_moulding_product = false;
    bool s_sport_correction = false;
    bool c_defect_canny_ingore = false;
    int h_temp_count = 0;
    int h_ngres_count = 0;
    int h_okres_count = 0;
    int system2_16 = 0;
    int system2_17 = 0;
    int h_diffmultiple = 0;
    int s_moulding_retimes = 0;
    int s_filtersize = 0;
    int s_alarmareas = 0;
    bool system2_10 = false, system2_11 = false, system2_12 = false, system6_12 = false;
    bool c_start_flawdetect = false;
    bool c_start_spotdetect = false;
    bool c_start_ignoredetect = false;
    bool c_manual_location = false;
    bool c_detailarithmetic = false;
    bool system3_10 = false, system1_9 = false, system6_10 = false, system7_14 = false;
    bool h_startlog = false;
    int system7_1 = 0;
    bool c_grayrepcolor = false;
    int h_minspot = 0;
    bool system7_4 = false;
    bool h_disp_fac_params = false;
    bool h_realtime_disp_roi = false;
    bool h_use_ngtemp = false;
    bool h_camera_single_sample = false;
    bool h_is_recheck_only_ng_camera = false;
    bool numFailDetect_3 = false;
    // Image-signal-processor mode: set starts the tuning engine in normal
    // mode, clear in its HDR mode.
    bool numFailDetect_4 = false;
    bool numFailDetect_5 = false;
    bool c_blackspotarea = false;
    bool c_whitespotarea = false;
    bool c_whitespotnum = false;
    bool c_similarity = false;
    int h_rotatecorrect = 0;
    int h_mostskewing = 0;
    int i_program_logic = 0;
    int i_program_logic_custom = 0;
    int i_program_turntable_type = 0;
    bool s_action_productdetect = false;
    bool s_semi_automatic = false;
    int s_product_delaytime = 0;   // tenths
    int s_moulding_delaytime = 0;  // tenths
    int trigInDelay_3 = 0, trigInDelay_4 = 0;
    int i_thimble_pulse = 0;    // tenths
    int i_closemold_pulse = 0;  // tenths
    int i_precut = 0;           // tenths
    bool i_isCloseAllow = false;
    bool i_isCloseCut = false;
    bool i_isNG0NoCut = false;
    bool i_isNG0CutT = false;
    bool i_isNG1CutT = false;
    bool i_isNG1OK2 = false;
    bool i_isThimblePulse = false;
    bool i_isClosePulse = false;
    bool i_isAllSafeDoor = false;
    int i_isNG0Pulse_Muti = 0;
    int i_isNG1Pulse_Muti = 0;
    int i_closeNGBuzzer_Muti = 0;
    bool i_NG0Redect_SafeDoor = false;
    bool i_isCloseAllow_thimeble = false;
    bool i_input3NoCheck = false;
    bool i_isSafeDoorDealAlarm = false;
    bool i_ng_trig2redetect = false;
    bool i_i0i1_IndependentControl_o0o1 = false;
    bool system5_12 = false;
    bool system9[16] = {};  // system9_6 ... system9_21

private:
    bool ensureTable() const;
    void keepBrokenText(const QString& text) const;
    void applyRangeDefaults();

    WizardParaHost* m_host = nullptr;
    FrameIO* m_io = nullptr;
    QThread* m_thread = nullptr;  // the thread that may use PARAM.db
};
