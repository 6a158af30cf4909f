-- The tables the program reads, for SQL Server through ODBC (Microsoft's driver or FreeTDS).
-- EmailSent and EmailDriver are BIT, read as True/False; dates are DATETIME (a FreeTDS speaking
-- an old TDS version hands DATETIME2 over as text); money is MONEY; text is NVARCHAR.

CREATE TABLE Company (
  ID INT PRIMARY KEY,
  Name NVARCHAR(100), Address1 NVARCHAR(100), Address2 NVARCHAR(100), City NVARCHAR(60),
  State NVARCHAR(30), Zip NVARCHAR(20), Phone NVARCHAR(30), Fax NVARCHAR(30),
  Email NVARCHAR(100), Website NVARCHAR(100),
  KeyPressDelay FLOAT, TaxRate FLOAT,
  MaintenanceEmail NVARCHAR(200), EmailFromAddress NVARCHAR(200), EmailFromName NVARCHAR(100),
  EmailServer NVARCHAR(200)
);

CREATE TABLE Customer (ID INT PRIMARY KEY, Name NVARCHAR(100));

CREATE TABLE Tour (
  ID INT PRIMARY KEY,
  TourName NVARCHAR(100),
  CustomerID INT,
  Status NVARCHAR(40)
);

CREATE TABLE TourItems (
  ID INT PRIMARY KEY,
  TourID INT,
  EndDate DATETIME
);

CREATE TABLE Invoice (
  ID INT PRIMARY KEY,
  TourID INT,
  Type NVARCHAR(20),
  InvoiceTotal MONEY,
  Paid MONEY
);

CREATE TABLE Bus (ID INT PRIMARY KEY, Name NVARCHAR(60));

CREATE TABLE Driver (ID INT PRIMARY KEY, Name NVARCHAR(100), Email NVARCHAR(200));

CREATE TABLE HexmileTicket (
  ID INT PRIMARY KEY,
  BusID INT,
  DriverID INT,
  AddDriverID INT,
  TicketDate DATETIME,
  Miles INT,
  Location NVARCHAR(100),
  Priority NVARCHAR(20),
  Status NVARCHAR(20),
  AltReplyEmail NVARCHAR(200),
  AddNotifyEmail NVARCHAR(200),
  EnteredBy NVARCHAR(60),
  EnteredDate DATETIME,
  Description NVARCHAR(MAX),
  EmailSent BIT
);

CREATE TABLE HexmileAction (
  ID INT PRIMARY KEY,
  TicketID INT,
  ActionDate DATETIME,
  EmailDriver BIT,
  AddNotifyEmail NVARCHAR(200),
  Description NVARCHAR(MAX),
  EnteredBy NVARCHAR(60),
  EnteredDate DATETIME,
  EmailSent BIT
);

CREATE INDEX TourItemsByTour ON TourItems (TourID);
CREATE INDEX InvoiceByTour ON Invoice (TourID);
