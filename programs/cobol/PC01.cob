      * PC01: the signed-on user's permission records, read from the
      * permission file through the installation's store, shown in a box
      * of the screen set ("Berechtigungen von ANNA: 3 - PA60 PA61 PA62").
      * The status value gets their number, the status text the first
      * three program names (a record without one is counted only). A file that cannot be read gives the status
      * text "FX02 " and its file status, and return code 9; a box that
      * cannot be shown return code 8.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. PC01.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT PERM-FILE ASSIGN TO "FX02.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX02-KEY
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD  PERM-FILE.
       COPY "FX02REC.cpy".
       WORKING-STORAGE SECTION.
       01  WS-ST                   PIC XX.
       01  WS-COUNT                PIC 9(6) VALUE 0.
       01  WS-LIST                 PIC X(15) VALUE SPACES.
       01  WS-POS                  PIC 99 VALUE 1.
       01  WS-USER-NAME            PIC X(10).
       01  WS-SHOWN-COUNT          PIC Z(5)9.
       01  WS-MESSAGE              PIC X(70).
       01  WS-RESULT               PIC 9.
       COPY "PXSCB.cpy".
       COPY "PXSDB.cpy".
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           OPEN INPUT PERM-FILE
           IF WS-ST NOT = "00"
               PERFORM FILE-FAILED
               GOBACK
           END-IF
      *    The user's records follow each other: the key starts with the
      *    client and the user name.
           MOVE LOW-VALUES TO FX02-RECORD
           MOVE CA-CLIENT TO FX02-CLIENT
           MOVE CA-USER-NAME TO FX02-USER-NAME WS-USER-NAME
           START PERM-FILE KEY IS NOT < FX02-KEY
           PERFORM UNTIL WS-ST NOT = "00"
               READ PERM-FILE NEXT
               IF WS-ST = "00"
                   IF FX02-CLIENT NOT = CA-CLIENT
                      OR FX02-USER-NAME NOT = WS-USER-NAME
                       MOVE "10" TO WS-ST
                   ELSE
                       ADD 1 TO WS-COUNT
                       IF WS-POS < 15 AND FX02-PROGRAM NOT = SPACES
                           MOVE FX02-PROGRAM TO WS-LIST(WS-POS:4)
                           ADD 5 TO WS-POS
                       END-IF
                   END-IF
               END-IF
           END-PERFORM
           IF WS-ST NOT = "10" AND WS-ST NOT = "23"
               PERFORM FILE-FAILED
               CLOSE PERM-FILE
               GOBACK
           END-IF
           CLOSE PERM-FILE
           MOVE WS-COUNT TO CA-STATUS-VALUE WS-SHOWN-COUNT
           MOVE WS-LIST TO CA-STATUS-TEXT
           STRING "Berechtigungen von " DELIMITED BY SIZE
                  WS-USER-NAME DELIMITED BY SPACE
                  ": " DELIMITED BY SIZE
                  FUNCTION TRIM(WS-SHOWN-COUNT) DELIMITED BY SIZE
                  " - " DELIMITED BY SIZE
                  WS-LIST DELIMITED BY SIZE
                  INTO WS-MESSAGE
           END-STRING
           PERFORM SHOW-BOX
           GOBACK.

      * A box through the screen set, the way every function program
      * uses it: the launcher's control block and carried values in, the
      * procedure named, and both handed back afterwards.
       SHOW-BOX.
           MOVE CA-SAVED-CONTROL-BLOCK TO PX-SCREEN-CONTROL
           MOVE CA-CARRIED-VALUES TO SDB-CARRIED-VALUES
           MOVE CA-CLUB-TEXT TO SDB-CLUB-TEXT
           MOVE WS-MESSAGE TO SDB-MESSAGE
           MOVE "BOX-INFO" TO SCB-PROCEDURE
           MOVE 8 TO WS-RESULT
           CALL "DSGRUN" USING PX-SCREEN-CONTROL PX-SCREEN-DATA
               NOT ON EXCEPTION
                   IF SCB-ERROR-CODE = 0
                       MOVE 0 TO WS-RESULT
                   END-IF
           END-CALL
           MOVE SPACES TO SCB-PROCEDURE
           MOVE WS-RESULT TO RETURN-CODE
           MOVE PX-SCREEN-CONTROL TO CA-SAVED-CONTROL-BLOCK
           MOVE SDB-CARRIED-VALUES TO CA-CARRIED-VALUES.

       FILE-FAILED.
           MOVE "FX02 " TO CA-STATUS-TEXT
           MOVE WS-ST TO CA-STATUS-TEXT(6:2)
           MOVE 9 TO RETURN-CODE.
