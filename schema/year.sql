-- Year database (one per Jalali year, named <base>_<YYYY>): work rules, calendars and
-- shift rotations, entry/exit records, permissions, daily, monthly and periodic results,
-- and the transfer's intermediate and web request tables. Days are "MM/DD" texts (the
-- year is the database's), times "HH:NN". Batches are separated by lines "GO".
-- The view V_GetCalItem is created by the service at start, not here.

-- PrjRule: a person's work group and section over a range of days, with the card
-- numbers the clock punches carry.
CREATE TABLE PrjRule (
  PERNO char(10) NOT NULL,
  KARTNO char(10) NULL,
  KARTNO2 char(10) NULL,
  BEGINDATE char(5) NOT NULL,
  ENDDATE char(5) NULL,
  WORKGROUP int NULL,
  Section nvarchar(50) NULL
)
GO

-- CalItem: calendar items, one per calendar and day: overtime span (E), duty time (D),
-- break (B), end of the attendance day and the holiday mark.
CREATE TABLE CalItem (
  CALCODE int NOT NULL,
  DBEGINDATE char(5) NOT NULL,
  DBEGINTIME char(5) NULL,
  DENDDATE char(5) NULL,
  DENDTIME char(5) NULL,
  EBEGINDATE char(5) NULL,
  EBEGINTIME char(5) NULL,
  EENDDATE char(5) NULL,
  EENDTIME char(5) NULL,
  BBEGINDATE char(5) NULL,
  BBEGINTIME char(5) NULL,
  BENDDATE char(5) NULL,
  BENDTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  HOLIDAY int NULL,
  CONSTRAINT PK_CalItem PRIMARY KEY (CALCODE, DBEGINDATE)
)
GO

-- GShItem: the shift-group rotation: the shift code of every day (D1..D31) of a month
-- (Period).
CREATE TABLE GShItem (
  GShCode int NOT NULL,
  Period int NOT NULL,
  D1 int NULL, D2 int NULL, D3 int NULL, D4 int NULL, D5 int NULL, D6 int NULL,
  D7 int NULL, D8 int NULL, D9 int NULL, D10 int NULL, D11 int NULL, D12 int NULL,
  D13 int NULL, D14 int NULL, D15 int NULL, D16 int NULL, D17 int NULL, D18 int NULL,
  D19 int NULL, D20 int NULL, D21 int NULL, D22 int NULL, D23 int NULL, D24 int NULL,
  D25 int NULL, D26 int NULL, D27 int NULL, D28 int NULL, D29 int NULL, D30 int NULL,
  D31 int NULL,
  CONSTRAINT PK_GShItem PRIMARY KEY (GShCode, Period)
)
GO

-- PerShifts: a person's own shift codes in a shift group's month; a code here
-- overrides the group's code of that day.
CREATE TABLE PerShifts (
  PerNo char(10) NOT NULL,
  GShCode int NOT NULL,
  Period int NOT NULL,
  D1 int NULL, D2 int NULL, D3 int NULL, D4 int NULL, D5 int NULL, D6 int NULL,
  D7 int NULL, D8 int NULL, D9 int NULL, D10 int NULL, D11 int NULL, D12 int NULL,
  D13 int NULL, D14 int NULL, D15 int NULL, D16 int NULL, D17 int NULL, D18 int NULL,
  D19 int NULL, D20 int NULL, D21 int NULL, D22 int NULL, D23 int NULL, D24 int NULL,
  D25 int NULL, D26 int NULL, D27 int NULL, D28 int NULL, D29 int NULL, D30 int NULL,
  D31 int NULL,
  CONSTRAINT PK_PerShifts PRIMARY KEY (PerNo, GShCode, Period)
)
GO

-- IoInfo: one row per entry/exit pair of a person, times rounded, with the punches'
-- terminals, marks and pictures. An exit alone has begin equal to end; an entry alone
-- has an empty end date. A person cannot have two rows with the same begin.
CREATE TABLE IoInfo (
  PERNO char(10) NOT NULL,
  BEGINDATE char(5) NOT NULL,
  BEGINTIME char(5) NOT NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  Duration int NULL,
  BBEGINTIME char(5) NULL,
  BENDDATE char(5) NULL,
  BENDTIME char(5) NULL,
  BEGINCLOCK int NULL,
  ENDCLOCK int NULL,
  BeginComCode int NULL,
  EndComCode int NULL,
  FPM int NULL,
  EnterPicId int NULL,
  ExitPicId int NULL,
  EnterFromWeb int NULL,
  ExitFromWeb int NULL,
  LastEditUserCode char(3) NULL,
  LastEditDate char(5) NULL,
  CONSTRAINT PK_IoInfo PRIMARY KEY (PERNO, BEGINDATE, BEGINTIME)
)
GO

-- Morkhasi: hourly leave sheets.
CREATE TABLE Morkhasi (
  PAGENO int NOT NULL,
  PERNO char(10) NOT NULL,
  BEGINDATE char(5) NULL,
  BEGINTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  DESCRIPT nvarchar(230) NULL,
  INDECISIVE int NULL,
  RECDATE char(5) NULL,
  TYPE int NULL,
  SodrinPageNo int NULL,
  CONSTRAINT PK_Morkhasi PRIMARY KEY (PAGENO, PERNO)
)
GO

-- DayMor: whole-day leave sheets, from BeginDate to EndDate.
CREATE TABLE DayMor (
  PageNo int NOT NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  EndDate char(5) NULL,
  Descript nvarchar(230) NULL,
  RecDate char(5) NULL,
  Type int NULL,
  SodrinPageNo int NULL,
  CONSTRAINT PK_DayMor PRIMARY KEY (PageNo, PerNo)
)
GO

-- Mission: hourly mission sheets.
CREATE TABLE Mission (
  PAGENO int NOT NULL,
  PERNO char(10) NOT NULL,
  BEGINDATE char(5) NULL,
  BEGINTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  DESCRIPT nvarchar(230) NULL,
  ISSUEDATE char(5) NULL,
  TYPE int NULL,
  CITY int NULL,
  LOCATION nvarchar(30) NULL,
  SodrinPageNo int NULL,
  CONSTRAINT PK_Mission PRIMARY KEY (PAGENO, PERNO)
)
GO

-- DayMam: whole-day mission sheets, from BeginDate to EndDate.
CREATE TABLE DayMam (
  PageNo int NOT NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  EndDate char(5) NULL,
  City int NULL,
  Descript nvarchar(230) NULL,
  IssueDate char(5) NULL,
  Location nvarchar(30) NULL,
  Type int NULL,
  SodrinPageNo int NULL,
  CONSTRAINT PK_DayMam PRIMARY KEY (PageNo, PerNo)
)
GO

-- MamDays: the hours of a whole-day mission on given days.
CREATE TABLE MamDays (
  PageNo int NULL,
  PerNo char(10) NULL,
  BeginDate char(5) NULL,
  BeginTime char(5) NULL,
  EndDate char(5) NULL,
  EndTime char(5) NULL
)
GO

-- ServLate: service-late sheets (the staff bus came late); SHIFTTYPE 1 first half of
-- the day, 2 after the break, 3 opened by an exit.
CREATE TABLE ServLate (
  PAGENO int NOT NULL,
  PERNO char(10) NOT NULL,
  BEGINDATE char(5) NULL,
  BEGINTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  DESCRIPT nvarchar(230) NULL,
  RECDATE char(5) NULL,
  SHIFTTYPE int NULL,
  INDECISIVE tinyint NULL,
  CONSTRAINT PK_ServLate PRIMARY KEY (PAGENO, PERNO)
)
GO

-- Present: whole-day presence marks, from BeginDate to EndDate.
CREATE TABLE Present (
  PageNo int NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  EndDate char(5) NULL
)
GO

-- DayExPrm: extra-work permissions: a daily time window repeated from BeginDate to
-- EndDate.
CREATE TABLE DayExPrm (
  PageNo int NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  BeginTime char(5) NULL,
  EndDate char(5) NULL,
  EndTime char(5) NULL,
  Descript nvarchar(230) NULL
)
GO

-- Susp: suspensions from BeginDate to EndDate.
CREATE TABLE Susp (
  PageNo int NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  EndDate char(5) NULL,
  Descript nvarchar(230) NULL
)
GO

-- DayWork: the daily result of a person: work, leave, mission, extra work and absence
-- minutes, daily leave and mission, meal and transport prices, first entry and last exit.
CREATE TABLE DayWork (
  PerNo char(10) NOT NULL,
  DDate char(5) NOT NULL,
  Edited int NULL,
  WorkGroup int NULL,
  CalCode int NULL,
  Section nvarchar(50) NULL,
  CalWork int NULL,
  NightWork int NULL,
  WorkTotal int NULL,
  WWork int NULL,
  LeaveOfAbsPay int NULL,
  Mission int NULL,
  ServiceLate int NULL,
  EarlyPermFirst int NULL,
  EarlyPermLast int NULL,
  LatePermFirst int NULL,
  LatePermLast int NULL,
  ExtraWorkTotal int NULL,
  EW_NormPerm int NULL,
  EW_NormNotPerm int NULL,
  EW_HoliPerm int NULL,
  EW_HoliNotPerm int NULL,
  EW_InMission int NULL,
  EW_HoliInMission int NULL,
  EW_NormInMission int NULL,
  EW_Special int NULL,
  EW_BreakNotPerm int NULL,
  EW_BreakPerm int NULL,
  NonWorkTotal int NULL,
  LeaveOfAbsNoPay int NULL,
  NW_Early_First int NULL,
  NW_Early_Last int NULL,
  NW_Late_First int NULL,
  NW_Late_Last int NULL,
  NW_LeaveNotPerm int NULL,
  NW_Absent int NULL,
  NW_Special int NULL,
  DailyMorkhasi int NULL,
  DailyMamuriat int NULL,
  DailyAbsence int NULL,
  Holiday int NULL,
  Suspended int NULL,
  PresenceInDMor int NULL,
  PresenceInDMam int NULL,
  OrdMor int NULL,
  ReduceHoliday int NULL,
  HolidaysCounted int NULL,
  KasrMor int NULL,
  MealPrice int NULL,
  ServicePrice int NULL,
  BeginStr char(10) NULL,
  EndStr char(10) NULL,
  FirstBeginDate char(5) NULL,
  FirstBeginTime char(5) NULL,
  LastEndDate char(5) NULL,
  LastEndTime char(5) NULL,
  PPercent int NULL,
  CONSTRAINT PK_DayWork PRIMARY KEY (PerNo, DDate)
)
GO

-- TimeTab: the day's timeline: one row per processed stretch of a person's day with
-- its kind, working interval, status, minutes and the sheets it came from.
CREATE TABLE TimeTab (
  PerNo char(10) NOT NULL,
  CalcDate char(5) NOT NULL,
  BeginDate char(5) NULL,
  BeginTime char(5) NULL,
  EndDate char(5) NULL,
  EndTime char(5) NULL,
  PresenceType int NULL,
  WorkingInterval int NULL,
  [Status] int NULL,
  Duration int NULL,
  MorkhasiSheetCode int NULL,
  MorkhasiType int NULL,
  DDesc nvarchar(30) NULL,
  MamuriatSheetCode int NULL,
  MamuriatType int NULL,
  ExtraWorkSheetCode int NULL,
  ServiceLateSheetCode int NULL,
  SuspensionSheetCode int NULL
)
-- A person's days are deleted and rewritten together.
CREATE INDEX IX_TimeTab_PerNo_CalcDate ON TimeTab (PerNo, CalcDate)
GO

-- DayMorDt: leave minutes of a person's day per leave type.
CREATE TABLE DayMorDt (
  PerNo char(10) NOT NULL,
  DDate char(5) NOT NULL,
  MorkhasiCode int NOT NULL,
  Amount int NULL,
  CONSTRAINT PK_DayMorDt PRIMARY KEY (PerNo, DDate, MorkhasiCode)
)
GO

-- DayMamDt: mission minutes of a person's day per mission type.
CREATE TABLE DayMamDt (
  PerNo char(10) NOT NULL,
  DDate char(5) NOT NULL,
  MamuriatCode int NOT NULL,
  Amount int NULL,
  CONSTRAINT PK_DayMamDt PRIMARY KEY (PerNo, DDate, MamuriatCode)
)
GO

-- MealTime: meals granted to a person on a day.
CREATE TABLE MealTime (
  Perno char(10) NOT NULL,
  CalcDate char(5) NOT NULL,
  MealCode int NOT NULL,
  MealPrice int NULL,
  CONSTRAINT PK_MealTime PRIMARY KEY (Perno, CalcDate, MealCode)
)
GO

-- ServTime: transport service granted to a person on a day.
CREATE TABLE ServTime (
  PERNO char(10) NOT NULL,
  CALCDATE char(5) NOT NULL,
  HALFWAYCODE int NULL,
  HALFWAYPRICE int NULL,
  SERVICEPRICE int NULL
)
CREATE INDEX IX_ServTime_PerNo_CalcDate ON ServTime (PERNO, CALCDATE)
GO

-- SRule: a person's transport half-way over a range of days.
CREATE TABLE SRule (
  Perno char(10) NOT NULL,
  BeginDate char(5) NULL,
  EndDate char(5) NULL,
  HalfWayCode int NULL
)
GO

-- DSExtDef: special extra work (Kind 0) or special absence (Kind 1) of a person's day,
-- the amount as "HHH:NN".
CREATE TABLE DSExtDef (
  Perno char(10) NOT NULL,
  DDate char(5) NOT NULL,
  Kind int NULL,
  Amount char(6) NULL
)
GO

-- MahWork: the monthly result of a person (MMonth 1..12).
CREATE TABLE MahWork (
  PerNo char(10) NOT NULL,
  MMonth int NOT NULL,
  WorkGroup int NULL,
  CalCode int NULL,
  Section nvarchar(50) NULL,
  Edited int NULL,
  CalWork int NULL,
  NightWork int NULL,
  ServicePrice int NULL,
  MealPrice int NULL,
  WorkTotal int NULL,
  Work_Over int NULL,
  Work_Less int NULL,
  WorkBound int NULL,
  ExtraWorkTotal int NULL,
  NonWorkTotal int NULL,
  LeaveOfAbsPay int NULL,
  LeaveOfAbsNoPay int NULL,
  LeaveOfAbsAlloted int NULL,
  Mission int NULL,
  WWork int NULL,
  ServiceLate int NULL,
  EarlyPermCount int NULL,
  EarlyPermAmount int NULL,
  LatePermCount int NULL,
  LatePermAmount int NULL,
  DaysWorked int NULL,
  EW_NormPerm int NULL,
  EW_NormNotPerm int NULL,
  EW_HoliPerm int NULL,
  EW_HoliNotPerm int NULL,
  EW_InMission int NULL,
  EW_HoliInMission int NULL,
  EW_NormInMission int NULL,
  EW_Special int NULL,
  EW_BreakNotPerm int NULL,
  EW_BreakPerm int NULL,
  NW_Early int NULL,
  NW_EarlyCnt int NULL,
  NW_Late int NULL,
  NW_LateCnt int NULL,
  NW_LeaveNotPerm int NULL,
  NW_LeaveNotPermCnt int NULL,
  NW_Absent int NULL,
  NW_AbsentCnt int NULL,
  NW_Special int NULL,
  PresenceInDMor int NULL,
  PresenceInDMam int NULL,
  OrdMor int NULL,
  KasrMor int NULL,
  UseHoliday int NULL,
  Forgiven_LateCount int NULL,
  Forgiven_LateAmount int NULL,
  HG_Minutes int NULL,
  HG_Days int NULL,
  HT_Minutes int NULL,
  HT_Days int NULL,
  DaysPresent int NULL,
  MorkhasiLeft int NULL,
  PYMorLeftUsed int NULL,
  ExtraMorSpecial int NULL,
  KasrMorSpecial int NULL,
  MorkhasiRation int NULL,
  PayingDays int NULL,
  PPERCENT1Cnt int NULL,
  PPERCENT2Cnt int NULL,
  PPERCENT3Cnt int NULL,
  PPERCENT4Cnt int NULL,
  CONSTRAINT PK_MahWork PRIMARY KEY (PerNo, MMonth)
)
GO

-- MahMorDt: leave minutes and days of a person's month per leave type.
CREATE TABLE MahMorDt (
  PerNo char(10) NOT NULL,
  MMonth int NOT NULL,
  MorkhasiCode int NOT NULL,
  Amount int NULL,
  Days int NULL,
  CONSTRAINT PK_MahMorDt PRIMARY KEY (PerNo, MMonth, MorkhasiCode)
)
GO

-- MahMamDt: mission minutes and days of a person's month per mission type.
CREATE TABLE MahMamDt (
  PerNo char(10) NOT NULL,
  MMonth int NOT NULL,
  MamuriatCode int NOT NULL,
  Amount int NULL,
  Days int NULL,
  CONSTRAINT PK_MahMamDt PRIMARY KEY (PerNo, MMonth, MamuriatCode)
)
GO

-- MorLMah: a person's leave balance for the monthly chain: the initial balance and
-- the transferable balance.
CREATE TABLE MorLMah (
  Perno char(10) NOT NULL,
  InitialValue int NULL,
  Amount int NULL,
  CONSTRAINT PK_MorLMah PRIMARY KEY (Perno)
)
GO

-- MSExtDef: special extra work (Kind 0) or special absence (Kind 1) of a person's month
-- or period (Mah), the amount as "HHH:NN".
CREATE TABLE MSExtDef (
  Perno char(10) NOT NULL,
  Mah int NOT NULL,
  Kind int NOT NULL,
  Amount char(6) NULL,
  CONSTRAINT PK_MSExtDef PRIMARY KEY (Perno, Mah, Kind)
)
GO

-- MSMorDef: special leave added (Kind 0) or deducted (Kind 1) in a person's month or
-- period (Mah), the amount as "HHH:NN".
CREATE TABLE MSMorDef (
  Perno char(10) NOT NULL,
  Mah int NOT NULL,
  Kind int NOT NULL,
  Amount char(6) NULL,
  CONSTRAINT PK_MSMorDef PRIMARY KEY (Perno, Mah, Kind)
)
GO

-- MahExPrm: permitted extra work of a person's month or period (Mah), as "HHH:NN".
CREATE TABLE MahExPrm (
  Perno char(10) NOT NULL,
  Mah int NOT NULL,
  PERMITTED char(6) NULL,
  CONSTRAINT PK_MahExPrm PRIMARY KEY (Perno, Mah)
)
GO

-- PrdWork: the result of a person's calculation period (Period 1..12).
CREATE TABLE PrdWork (
  PerNo char(10) NOT NULL,
  Period int NOT NULL,
  WorkGroup int NULL,
  CalCode int NULL,
  Section nvarchar(50) NULL,
  Edited int NULL,
  CalWork int NULL,
  NightWork int NULL,
  ServicePrice int NULL,
  MealPrice int NULL,
  WorkTotal int NULL,
  Work_Over int NULL,
  Work_Less int NULL,
  WorkBound int NULL,
  ExtraWorkTotal int NULL,
  NonWorkTotal int NULL,
  LeaveOfAbsPay int NULL,
  LeaveOfAbsNoPay int NULL,
  LeaveOfAbsAlloted int NULL,
  Mission int NULL,
  WWork int NULL,
  ServiceLate int NULL,
  EarlyPermCount int NULL,
  EarlyPermAmount int NULL,
  LatePermCount int NULL,
  LatePermAmount int NULL,
  DaysWorked int NULL,
  EW_NormPerm int NULL,
  EW_NormNotPerm int NULL,
  EW_HoliPerm int NULL,
  EW_HoliNotPerm int NULL,
  EW_InMission int NULL,
  EW_HoliInMission int NULL,
  EW_NormInMission int NULL,
  EW_Special int NULL,
  EW_BreakNotPerm int NULL,
  EW_BreakPerm int NULL,
  NW_Early int NULL,
  NW_EarlyCnt int NULL,
  NW_Late int NULL,
  NW_LateCnt int NULL,
  NW_LeaveNotPerm int NULL,
  NW_LeaveNotPermCnt int NULL,
  NW_Absent int NULL,
  NW_AbsentCnt int NULL,
  NW_Special int NULL,
  PresenceInDMor int NULL,
  PresenceInDMam int NULL,
  OrdMor int NULL,
  KasrMor int NULL,
  UseHoliday int NULL,
  Forgiven_LateCount int NULL,
  Forgiven_LateAmount int NULL,
  HG_Minutes int NULL,
  HG_Days int NULL,
  HT_Minutes int NULL,
  HT_Days int NULL,
  DaysPresent int NULL,
  MorkhasiLeft int NULL,
  PYMorLeftUsed int NULL,
  ExtraMorSpecial int NULL,
  KasrMorSpecial int NULL,
  MorkhasiRation int NULL,
  PayingDays int NULL,
  PPERCENT1Cnt int NULL,
  PPERCENT2Cnt int NULL,
  PPERCENT3Cnt int NULL,
  PPERCENT4Cnt int NULL,
  CONSTRAINT PK_PrdWork PRIMARY KEY (PerNo, Period)
)
GO

-- PrdMorDt: leave minutes and days of a person's period per leave type.
CREATE TABLE PrdMorDt (
  PerNo char(10) NOT NULL,
  Period int NOT NULL,
  MorkhasiCode int NOT NULL,
  Amount int NULL,
  Days int NULL,
  CONSTRAINT PK_PrdMorDt PRIMARY KEY (PerNo, Period, MorkhasiCode)
)
GO

-- PrdMamDt: mission minutes and days of a person's period per mission type.
CREATE TABLE PrdMamDt (
  PerNo char(10) NOT NULL,
  Period int NOT NULL,
  MamuriatCode int NOT NULL,
  Amount int NULL,
  Days int NULL,
  CONSTRAINT PK_PrdMamDt PRIMARY KEY (PerNo, Period, MamuriatCode)
)
GO

-- MorLPrd: a person's leave balance for the periodic chain: the initial balance and
-- the transferable balance.
CREATE TABLE MorLPrd (
  Perno char(10) NOT NULL,
  InitialValue int NULL,
  Amount int NULL,
  CONSTRAINT PK_MorLPrd PRIMARY KEY (Perno)
)
GO

-- WGMahPrd: a person's work group overrides per month or period: EnabledN switches the
-- override of month or period N on, MahPrdN names the work group.
CREATE TABLE WGMahPrd (
  Perno char(10) NOT NULL,
  Enabled1 int NULL, Enabled2 int NULL, Enabled3 int NULL, Enabled4 int NULL,
  Enabled5 int NULL, Enabled6 int NULL, Enabled7 int NULL, Enabled8 int NULL,
  Enabled9 int NULL, Enabled10 int NULL, Enabled11 int NULL, Enabled12 int NULL,
  MahPrd1 int NULL, MahPrd2 int NULL, MahPrd3 int NULL, MahPrd4 int NULL,
  MahPrd5 int NULL, MahPrd6 int NULL, MahPrd7 int NULL, MahPrd8 int NULL,
  MahPrd9 int NULL, MahPrd10 int NULL, MahPrd11 int NULL, MahPrd12 int NULL,
  CONSTRAINT PK_WGMahPrd PRIMARY KEY (Perno)
)
GO

-- TmpMor: leave requests waiting for transfer (from special-card punches and the web).
-- INDECISIVE 0 certain, 1 uncertain, 2 collides with a sheet on record (noted in
-- Descript); Rec1/Rec2 are the punches that opened and closed the request.
CREATE TABLE TmpMor (
  PAGENO int NULL,
  PERNO char(10) NULL,
  BEGINDATE char(5) NULL,
  BEGINTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  INDECISIVE int NULL,
  Descript nvarchar(255) NULL,
  Rec1 int NULL,
  Rec2 int NULL,
  TYPE int NULL,
  RECDATE char(5) NULL,
  IsDaily char(1) NULL,
  ClockOrWeb char(1) NULL,
  OldPageNo int NULL
)
GO

-- TmpMam: mission requests waiting for transfer.
CREATE TABLE TmpMam (
  PAGENO int NULL,
  PERNO char(10) NULL,
  BEGINDATE char(5) NULL,
  BEGINTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  INDECISIVE int NULL,
  Descript nvarchar(255) NULL,
  Rec1 int NULL,
  Rec2 int NULL,
  TYPE int NULL,
  CITY int NULL,
  ISSUEDATE char(5) NULL,
  LOCATION nvarchar(30) NULL,
  IsDaily char(1) NULL,
  ClockOrWeb char(1) NULL,
  OldPageNo int NULL
)
GO

-- TmpSlate: service-late requests waiting for transfer; SHIFTTYPE 1 first half of the
-- day, 2 after the break, 3 opened by an exit, -1 not matched to a shift.
CREATE TABLE TmpSlate (
  PAGENO int NULL,
  PERNO char(10) NULL,
  BEGINDATE char(5) NULL,
  BEGINTIME char(5) NULL,
  ENDDATE char(5) NULL,
  ENDTIME char(5) NULL,
  INDECISIVE tinyint NULL,
  Descript nvarchar(255) NULL,
  Rec1 int NULL,
  Rec2 int NULL,
  RECDATE char(5) NULL,
  SHIFTTYPE int NULL
)
GO

-- AskAbsence: leave requests filed on the web, approved and transferred flags.
CREATE TABLE AskAbsence (
  PageNo int NOT NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  BeginTime char(5) NULL,
  EndDate char(5) NULL,
  EndTime char(5) NULL,
  Type int NULL,
  userDescription nvarchar(230) NULL,
  RecDate char(5) NULL,
  IsDaily bit NULL,
  IsApproved bit NULL,
  IsTransfer bit NULL,
  CONSTRAINT PK_AskAbsence PRIMARY KEY (PageNo, PerNo)
)
GO

-- AskMission: mission requests filed on the web, approved and transferred flags.
CREATE TABLE AskMission (
  PageNo int NOT NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  BeginTime char(5) NULL,
  EndDate char(5) NULL,
  EndTime char(5) NULL,
  Type int NULL,
  userDescription nvarchar(230) NULL,
  IssueDate char(5) NULL,
  City int NULL,
  Location nvarchar(30) NULL,
  IsDaily bit NULL,
  IsApproved bit NULL,
  IsTransfer bit NULL,
  CONSTRAINT PK_AskMission PRIMARY KEY (PageNo, PerNo)
)
GO

-- MissionHour: the hours of the days of a whole-day mission requested on the web.
CREATE TABLE MissionHour (
  PageNo int NOT NULL,
  PerNo char(10) NOT NULL,
  BeginDate char(5) NULL,
  BeginTime char(5) NULL,
  EndDate char(5) NULL,
  EndTime char(5) NULL
)
GO
