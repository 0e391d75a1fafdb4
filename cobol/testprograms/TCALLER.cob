      * TCALLER: calls TWS by name from COBOL (the run-time loads it from
      * the program path) and returns TWS's return code.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TCALLER.
       DATA DIVISION.
       WORKING-STORAGE SECTION.
       01  WS-NAME                 PIC X(8) VALUE "TWS".
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           CALL WS-NAME USING PX-COMMON-AREA
           GOBACK.
