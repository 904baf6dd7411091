-- Base-information database: settings, schedule, run log, persons, work groups, shifts,
-- clock punches, leave and mission types, special cards, meals and transport codes.
-- Batches are separated by lines "GO"; runs as it stands on SQL Server and on the
-- embedded engine. Person numbers are char(10), stored right-aligned.

-- SYSTEM: the one row of settings: rounding of clock times, night and fasting-month
-- bounds, the twelve calculation periods, leave and mission key codes, clock-dump
-- thresholds and the calculation state flag KorlanCalcOrService.
CREATE TABLE SYSTEM (
  Round int NULL,
  RoundVal int NULL,
  RoundBound int NULL,
  Elapse int NULL,
  NightBegin char(5) NULL,
  NightEnd char(5) NULL,
  Period1B char(5) NULL, Period1E char(5) NULL,
  Period2B char(5) NULL, Period2E char(5) NULL,
  Period3B char(5) NULL, Period3E char(5) NULL,
  Period4B char(5) NULL, Period4E char(5) NULL,
  Period5B char(5) NULL, Period5E char(5) NULL,
  Period6B char(5) NULL, Period6E char(5) NULL,
  Period7B char(5) NULL, Period7E char(5) NULL,
  Period8B char(5) NULL, Period8E char(5) NULL,
  Period9B char(5) NULL, Period9E char(5) NULL,
  Period10B char(5) NULL, Period10E char(5) NULL,
  Period11B char(5) NULL, Period11E char(5) NULL,
  Period12B char(5) NULL, Period12E char(5) NULL,
  Hushmand int NULL,
  Usekeys int NULL,
  NumYears int NULL,
  Years char(255) NULL,
  A_Type char(1) NULL, B_Type char(1) NULL, C_Type char(1) NULL, D_Type char(1) NULL,
  A_Code int NULL, B_Code int NULL, C_Code int NULL, D_Code int NULL,
  StartMorLeft int NULL,
  LBackupDate char(10) NULL,
  LBackupTime char(5) NULL,
  RamezanStart char(5) NULL,
  RamezanEnd char(5) NULL,
  Mor_Code1 char(5) NULL, Mor_Code2 char(5) NULL, Mor_Code3 char(5) NULL, Mor_Code4 char(5) NULL,
  Mor_Code5 char(5) NULL, Mor_Code6 char(5) NULL, Mor_Code7 char(5) NULL, Mor_Code8 char(5) NULL,
  Mam_Code1 char(5) NULL, Mam_Code2 char(5) NULL, Mam_Code3 char(5) NULL, Mam_Code4 char(5) NULL,
  Mam_Code5 char(5) NULL, Mam_Code6 char(5) NULL, Mam_Code7 char(5) NULL, Mam_Code8 char(5) NULL,
  Timeout int NULL,
  MaxServiceLate int NULL,
  MaxMor int NULL,
  MaxPresence int NULL,
  MaxAbsence int NULL,
  MinAbsence int NULL,
  BeforeEnter int NULL,
  AfterEnter int NULL,
  BeforeExit int NULL,
  AfterExit int NULL,
  PReadInterval int NULL,
  Exd char(50) NULL,
  KorlanCalcOrService int NULL,
  EnableSystemLog int NULL
)
GO

-- CSSchedule: scheduled calculation jobs (daily with optional transfer, monthly,
-- periodic), when they run, their range, and the date and time of the last run.
CREATE TABLE CSSchedule (
  ScheduleId int NOT NULL,
  ScheduleType int NULL,
  StartTime char(5) NULL,
  Data1 int NULL,
  Data2 int NULL,
  LastRunDate char(10) NULL,
  LastRunTime char(5) NULL,
  CalcType int NULL,
  SubCalcType int NULL,
  FromDate char(5) NULL,
  ToDate char(5) NULL,
  FromMahPeriod varchar(10) NULL,
  ToMahPeriod varchar(10) NULL,
  CalcYear char(4) NULL,
  DifCurDay int NULL,
  DifCurMP int NULL,
  Transfer int NULL,
  Uncertains int NULL,
  TransMor int NULL,
  TransMam int NULL,
  TransSLate int NULL,
  CONSTRAINT PK_CSSchedule PRIMARY KEY (ScheduleId)
)
GO

-- CSSPersons: the persons a schedule entry is restricted to; an entry without rows
-- here works on every person.
CREATE TABLE CSSPersons (
  ScheduleId int NOT NULL,
  PerNo char(10) NOT NULL,
  CONSTRAINT PK_CSSPersons PRIMARY KEY (ScheduleId, PerNo)
)
GO

-- CSSPerTemp: the person list of the run in progress, refilled for every due entry.
CREATE TABLE CSSPerTemp (
  PerNo char(10) NULL
)
GO

-- CSSLog: one row per reported event of a scheduled run, shown to the users.
CREATE TABLE CSSLog (
  Id int IDENTITY(1,1) NOT NULL,
  ScheduleId int NULL,
  PerNo char(10) NULL,
  LogDate char(10) NULL,
  LogTime char(5) NULL,
  Comment nvarchar(255) NULL,
  Status int NULL DEFAULT 0,
  CONSTRAINT PK_CSSLOG PRIMARY KEY (Id)
)
-- A row kept back is reported once: the report first looks for the person's same comment.
CREATE INDEX IX_CSSLog_PerNo ON CSSLog (PerNo)
GO

-- UsersLog: log-in and log-out of the product's programs; the service writes its own
-- row with Code "SRV".
CREATE TABLE UsersLog (
  Code char(3) NULL,
  BeginDate char(10) NULL,
  BeginTime char(5) NULL,
  EndDate char(10) NULL,
  EndTime char(5) NULL,
  ClientVersion varchar(30) NULL,
  ServerIP varchar(50) NULL,
  ServerPort varchar(50) NULL,
  ClientIP varchar(50) NULL,
  ServerMachineName nvarchar(128) NULL,
  ClientMachineName nvarchar(128) NULL
)
GO

-- Semaphor: the locks of the product's functions; Code 17 ("CALC") is the calculation
-- hold, Amount the number of holders, HostName the computer holding it.
CREATE TABLE Semaphor (
  Code int NOT NULL,
  Amount int NULL DEFAULT 0,
  HostName char(30) NULL,
  CONSTRAINT PK_Semaphor PRIMARY KEY (Code)
)
GO

-- Person: the personnel: number and names.
CREATE TABLE Person (
  Perno char(10) NOT NULL,
  FirstName nvarchar(30) NULL,
  LastName nvarchar(30) NULL,
  SortLastName nvarchar(30) NULL,
  CONSTRAINT PK_Person PRIMARY KEY (Perno)
)
GO

-- JobInfo: employment records of a person: begin and end dates ("YYYY/MM/DD") and the
-- transport service code.
CREATE TABLE JobInfo (
  Perno char(10) NOT NULL,
  BeginDate char(10) NULL,
  EndDate char(10) NULL,
  Service int NULL
)
GO

-- WorkGrp: work groups: calendar or shift group, group type, tolerances, floating
-- hours, compensation rules of the day and of the month, monthly parameters and
-- bounds, meal and transport options, clock-record pairing options.
CREATE TABLE WorkGrp (
  CODE int NOT NULL,
  NAME nvarchar(50) NULL,
  CALCODE int NULL,
  GShCode int NULL,
  GROUPTYPE int NULL,
  -- compensation of daily shortfalls by permitted extra work
  S_Day_Rate int NULL, S_Day_Bound int NULL, S_Day_Condition int NULL,
  T_Day_Rate int NULL, T_Day_Bound int NULL, T_Day_Condition int NULL,
  E_Day_Rate int NULL, E_Day_Bound int NULL, E_Day_Condition int NULL,
  SDR_PRIO char(1) NULL, TDR_PRIO char(1) NULL, EDR_PRIO char(1) NULL,
  -- compensation of monthly deficits by permitted extra work
  SMR_PRIO char(1) NULL, S_Mah_Rate int NULL, S_Mah_Bound int NULL, S_Mah_Condition int NULL,
  TMR_PRIO char(1) NULL, T_Mah_Rate int NULL, T_Mah_Bound int NULL, T_Mah_Condition int NULL,
  EMR_PRIO char(1) NULL, E_Mah_Rate int NULL, E_Mah_Bound int NULL, E_Mah_Condition int NULL,
  GMR_PRIO char(1) NULL, G_Mah_Rate int NULL, G_Mah_Bound int NULL, G_Mah_Condition int NULL,
  AMR_PRIO char(1) NULL,
  ADDPERMIT int NULL,
  LATE_IN int NULL,
  EARLY_OUT int NULL,
  ta_Ramezan int NULL,
  FLOATCAL int NULL,
  FLOATVAL varchar(10) NULL,
  OverFloat int NULL,
  KASR_M_DAY int NULL,
  KASR_MOR int NULL,
  KASR_TAT int NULL,
  MAH_ABS_OK int NULL,
  MAX_KARKARD int NULL,
  MIN_KARKARD int NULL,
  PPERCENT int NULL,
  TAKHIR_AMOUNT int NULL,
  TAKHIRCNT int NULL,
  TAKHIRSTAT int NULL,
  TAKHIRTOT int NULL,
  TATS_IN_MORKHASI int NULL,
  M_PARAM1 int NULL, M_PARAM2 int NULL, M_PARAM3 int NULL, M_PARAM4 int NULL,
  M_PARAM5 int NULL, M_PARAM6 int NULL, M_PARAM7 int NULL, M_PARAM8 int NULL,
  M_PARAM9 int NULL, M_PARAM10 int NULL, M_PARAM11 int NULL, M_PARAM12 int NULL,
  WorkBound1 int NULL, WorkBound2 int NULL, WorkBound3 int NULL, WorkBound4 int NULL,
  WorkBound5 int NULL, WorkBound6 int NULL, WorkBound7 int NULL, WorkBound8 int NULL,
  WorkBound9 int NULL, WorkBound10 int NULL, WorkBound11 int NULL, WorkBound12 int NULL,
  E_N_MinBefore int NULL,
  E_N_MinAfter int NULL,
  E_H_Min int NULL,
  CalcMeal int NULL,
  CalcMealEBefore int NULL,
  CalcMealEAfter int NULL,
  CalcMealEHoliday int NULL,
  CalcService int NULL,
  Atten_In_Break int NULL,
  MealDuration int NULL,
  Dec_Meal_Absence int NULL,
  SumAbsent int NULL,
  AbsentOption int NULL,
  MaxMPNonWork int NULL,
  MaxMPNonWorkState char(1) NULL,
  Imp_HurOrdMor int NULL,
  MandeMorForSaati int NULL,
  MMinTrans int NULL,
  MMaxTrans int NULL,
  PrdMahExtraWorkPermOption int NULL,
  Def_Late_In_FromVacation int NULL,
  Def_Early_Out_FromVacation int NULL,
  How_ExtraWork_Holi_DayMam int NULL,
  Dont_Calc_NightWork int NULL,
  IntelligentType int NULL,
  IOPairing int NULL,
  LastExitEndDay int NULL,
  CONSTRAINT PK_WorkGrp PRIMARY KEY (CODE)
)
GO

-- WorkShifts: shift definitions: overtime span, duty time, break, end of the attendance
-- day, holiday flag; ShiftStatus marks with "1" which of break begin, break end, duty
-- end, overtime end and day end fall on the next day.
CREATE TABLE WorkShifts (
  Code int NOT NULL,
  Name nvarchar(50) NULL,
  EBEGINTIME char(5) NULL,
  EENDTIME char(5) NULL,
  DBEGINTIME char(5) NULL,
  DENDTIME char(5) NULL,
  BBEGINTIME char(5) NULL,
  BENDTIME char(5) NULL,
  ENDTIME char(5) NULL,
  Holiday int NULL,
  ShiftStatus char(5) NULL,
  CONSTRAINT PK_WorkShifts PRIMARY KEY (Code)
)
GO

-- ClockDmp: one row per punch read from a clock terminal or the web, labelled entry or
-- exit before it is transferred into the entry/exit records.
CREATE TABLE ClockDmp (
  REC int NOT NULL,
  KARTNO char(10) NULL,
  PERNO char(10) NULL,
  CLOCKDATE char(10) NULL,
  CLOCKTIME char(5) NULL,
  IO_TYPE char(1) NULL,
  UNCERTAIN int NULL DEFAULT 0,
  TRANSFERED int NULL DEFAULT 0,
  SPCARDTYPE int NULL DEFAULT 0,
  SPECCARDNO char(10) NULL,
  ClockKey char(2) NULL,
  MASHINNO char(3) NULL,
  ComCode int NULL,
  FPM int NULL DEFAULT 0,
  PicId int NULL,
  FromWeb int NULL DEFAULT 0,
  BClockDate char(5) NULL,
  BClockTime char(5) NULL,
  DECEMBER int NULL,
  INTELLIGENTLYANALYSED int NULL,
  CONSTRAINT PK_ClockDmp PRIMARY KEY (REC)
)
-- Each punch is labelled after a look at the person's earlier punches.
CREATE INDEX IX_ClockDmp_PerNo_ClockDate ON ClockDmp (PERNO, CLOCKDATE)
GO

-- MorType: leave types: whole-day or hourly, ordinary, waged, education, and how
-- holidays and meals count inside a leave.
CREATE TABLE MorType (
  Code int NOT NULL,
  Name nvarchar(50) NULL,
  IsDaily int NULL,
  IsOrdinary int NULL,
  IsWaged int NULL,
  HolidaysCounted int NULL,
  Dec_Meal int NULL,
  ReduceMorkhasi int NULL,
  ReduceHoliday int NULL,
  Education int NULL,
  CONSTRAINT PK_MorType PRIMARY KEY (Code)
)
GO

-- MamType: mission types: whole-day or hourly, and how holidays and meals count.
CREATE TABLE MamType (
  Code int NOT NULL,
  Name nvarchar(50) NULL,
  IsDaily int NULL,
  HolidaysCounted int NULL,
  Dec_Meal int NULL,
  CONSTRAINT PK_MamType PRIMARY KEY (Code)
)
GO

-- SpecCard: special cards: the card number and the leave, mission or service-late
-- type it stands for (PERMITTYPE 1 leave, 2 mission, 3 service late).
CREATE TABLE SpecCard (
  CardNo char(10) NOT NULL,
  PermitCode int NULL,
  PERMITTYPE int NULL,
  CONSTRAINT PK_SpecCard PRIMARY KEY (CardNo)
)
GO

-- PerUser: the persons a user may handle.
CREATE TABLE PerUser (
  Code char(3) NOT NULL,
  PerNo char(10) NOT NULL,
  CONSTRAINT PK_PerUser PRIMARY KEY (Code, PerNo)
)
GO

-- Meals: meal windows and prices over a range of days of the year.
CREATE TABLE Meals (
  Code int NOT NULL,
  Name nvarchar(50) NULL,
  BeginDate char(5) NULL,
  EndDate char(5) NULL,
  BeginTime char(5) NULL,
  EndTime char(5) NULL,
  Price int NULL,
  CONSTRAINT PK_Meals PRIMARY KEY (Code)
)
GO

-- HalfWays: transport half-way fares: the time window, holiday or working day,
-- direction (Io_Type 0 coming, 1 going) and price.
CREATE TABLE HalfWays (
  Code int NOT NULL,
  Name nvarchar(50) NULL,
  BeginTime char(5) NULL,
  EndTime char(5) NULL,
  IsHoliday int NULL,
  Io_Type int NULL,
  Price int NULL,
  CONSTRAINT PK_HalfWays PRIMARY KEY (Code)
)
GO

-- ServCode: transport service codes and their full fare.
CREATE TABLE ServCode (
  Code int NOT NULL,
  Name nvarchar(50) NULL,
  FullWayPrice int NULL,
  CONSTRAINT PK_ServCode PRIMARY KEY (Code)
)
GO
