<?xml version="1.0" encoding="ISO-8859-1"?>
<!--
  The layout every report shares. A report document is one <log> holding a
  <period> and the <event> records of one period log file. The page shows
  the totals, a breakdown per user or per printer (by cost, with bars for
  pages), a breakdown per day for periods longer than a day, and the newest
  jobs.

  Grouping stays close to linear in the number of records. libxslt builds
  every key of a document at its first use, and a key table slows down with
  the square of a group's size; a user or a printer may carry every job of
  the period (in its own report it does), so both are keyed together with
  the minute of the job and their figures are summed over the sixty
  minutes. A day holds few enough jobs to be keyed as it is.
-->
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:set="http://exslt.org/sets"
    xmlns:exsl="http://exslt.org/common"
    extension-element-prefixes="set exsl">

  <xsl:output method="html" encoding="ISO-8859-1" indent="no"
      doctype-system="about:legacy-compat"/>

  <!-- How many of the newest jobs the job list shows. -->
  <xsl:param name="max-jobs" select="1000"/>

  <!-- Rows per block of the job list; blocks off screen are not laid out. -->
  <xsl:variable name="block-rows" select="50"/>

  <xsl:key name="user-minute" match="event" use="concat(min, '|', user)"/>
  <xsl:key name="printer-minute" match="event" use="concat(min, '|', printer)"/>
  <xsl:key name="day" match="event" use="concat(year, month, day)"/>

  <!-- "00" to "59": the minutes, and from "01" the months and days. -->
  <xsl:variable name="numbers-tree">
    <n>00</n><n>01</n><n>02</n><n>03</n><n>04</n><n>05</n><n>06</n><n>07</n><n>08</n><n>09</n>
    <n>10</n><n>11</n><n>12</n><n>13</n><n>14</n><n>15</n><n>16</n><n>17</n><n>18</n><n>19</n>
    <n>20</n><n>21</n><n>22</n><n>23</n><n>24</n><n>25</n><n>26</n><n>27</n><n>28</n><n>29</n>
    <n>30</n><n>31</n><n>32</n><n>33</n><n>34</n><n>35</n><n>36</n><n>37</n><n>38</n><n>39</n>
    <n>40</n><n>41</n><n>42</n><n>43</n><n>44</n><n>45</n><n>46</n><n>47</n><n>48</n><n>49</n>
    <n>50</n><n>51</n><n>52</n><n>53</n><n>54</n><n>55</n><n>56</n><n>57</n><n>58</n><n>59</n>
  </xsl:variable>
  <xsl:variable name="minutes" select="exsl:node-set($numbers-tree)/n"/>
  <xsl:variable name="two-digits" select="$minutes[position() &gt; 1]"/>

  <xsl:template name="money">
    <xsl:param name="cents"/>
    <xsl:value-of select="format-number($cents div 100, '0.00')"/>
  </xsl:template>

  <xsl:template name="report">
    <!-- 'printer', 'user' or 'all' -->
    <xsl:param name="scope"/>
    <xsl:variable name="events" select="/log/event"/>
    <xsl:variable name="period" select="normalize-space(/log/period)"/>
    <html lang="en">
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=ISO-8859-1"/>
        <meta name="viewport" content="width=device-width"/>
        <title>
          <xsl:choose>
            <xsl:when test="$scope = 'printer'">Printer report</xsl:when>
            <xsl:when test="$scope = 'user'">User report</xsl:when>
            <xsl:otherwise>All printing</xsl:otherwise>
          </xsl:choose>
          <xsl:text> - </xsl:text>
          <xsl:value-of select="$period"/>
        </title>
        <style>
          :root { --accent: #2f5d8a; --rule: #d9dee4; --muted: #5f6b77; }
          * { box-sizing: border-box; }
          body { margin: 0; padding: 16px 20px 28px; font: 14px/1.4 "DejaVu Sans", "Segoe UI", Arial, sans-serif; color: #1d2329; background: #fff; }
          header { border-bottom: 2px solid var(--accent); padding-bottom: 8px; margin-bottom: 14px; }
          .kind { margin: 0; color: var(--muted); font-size: 12px; text-transform: uppercase; letter-spacing: .06em; }
          h1 { margin: 2px 0 0; font-size: 21px; font-weight: 600; }
          .period { margin: 2px 0 0; color: var(--muted); }
          h2 { font-size: 15px; margin: 22px 0 6px; font-weight: 600; }
          .totals { display: flex; gap: 36px; margin: 0; }
          .totals div { min-width: 90px; }
          .totals dt { color: var(--muted); font-size: 12px; }
          .totals dd { margin: 0; font-size: 22px; font-variant-numeric: tabular-nums; }
          .empty { margin: 18px 0; padding: 14px; border: 1px dashed var(--rule); color: var(--muted); text-align: center; }
          table { border-collapse: collapse; width: 100%; table-layout: fixed; }
          col.name { width: 30%; } col.barcol { width: 34%; } col.figure { width: 12%; }
          th { text-align: left; font-weight: 600; font-size: 12px; color: var(--muted); border-bottom: 1px solid var(--rule); padding: 4px 6px; }
          td { padding: 3px 6px; border-bottom: 1px solid #eef1f4; vertical-align: middle; }
          .num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
          .name { overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
          .bar { height: 10px; background: var(--accent); border-radius: 2px; min-width: 1px; }
          .jobs .row { display: grid; grid-template-columns: 82px 44px minmax(80px, 1fr) 50px 64px minmax(60px, 130px) minmax(50px, 100px); column-gap: 8px; padding: 3px 6px; border-bottom: 1px solid #eef1f4; }
          .jobs .row span { overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
          .jobs .head { font-weight: 600; font-size: 12px; color: var(--muted); border-bottom: 1px solid var(--rule); }
          .jobs .block { content-visibility: auto; contain-intrinsic-size: auto 1300px; }
          .more { margin: 10px 0 0; color: var(--muted); }
          @media (max-width: 640px) {
            .jobs .row { grid-template-columns: 76px 40px minmax(60px, 1fr) 40px 56px minmax(40px, 80px) minmax(40px, 70px); column-gap: 6px; }
            .totals { gap: 20px; }
          }
          @media print {
            body { padding: 0; font-size: 11px; }
            .jobs .block { content-visibility: visible; }
            .bar { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
            section:not(.jobs), .row, tr { break-inside: avoid; }
            h2 { break-after: avoid; }
          }
        </style>
      </head>
      <body>
        <header>
          <p class="kind">
            <xsl:choose>
              <xsl:when test="$scope = 'printer'">Printer report</xsl:when>
              <xsl:when test="$scope = 'user'">User report</xsl:when>
              <xsl:otherwise>Report</xsl:otherwise>
            </xsl:choose>
          </p>
          <h1>
            <xsl:choose>
              <xsl:when test="$scope = 'printer' and $events"><xsl:value-of select="$events[1]/printer"/></xsl:when>
              <xsl:when test="$scope = 'user' and $events"><xsl:value-of select="$events[1]/user"/></xsl:when>
              <xsl:otherwise>All printing</xsl:otherwise>
            </xsl:choose>
          </h1>
          <p class="period" id="period"><xsl:value-of select="$period"/></p>
        </header>

        <dl class="totals">
          <div><dt>Jobs</dt><dd id="total-jobs"><xsl:value-of select="count($events)"/></dd></div>
          <div><dt>Pages</dt><dd id="total-pages"><xsl:value-of select="sum($events/pages)"/></dd></div>
          <div><dt>Cost</dt><dd id="total-cost">
            <xsl:call-template name="money"><xsl:with-param name="cents" select="sum($events/cost)"/></xsl:call-template>
          </dd></div>
        </dl>

        <xsl:choose>
          <xsl:when test="not($events)">
            <p class="empty" id="no-jobs">No jobs were printed in this period.</p>
          </xsl:when>
          <xsl:otherwise>
            <xsl:if test="$scope != 'user'">
              <xsl:variable name="groups">
                <xsl:call-template name="name-groups">
                  <xsl:with-param name="names" select="set:distinct($events/user)"/>
                  <xsl:with-param name="key" select="'user-minute'"/>
                </xsl:call-template>
              </xsl:variable>
              <xsl:call-template name="breakdown">
                <xsl:with-param name="title" select="'By user'"/>
                <xsl:with-param name="id" select="'by-user'"/>
                <xsl:with-param name="label" select="'User'"/>
                <xsl:with-param name="groups" select="exsl:node-set($groups)/g"/>
              </xsl:call-template>
            </xsl:if>
            <xsl:if test="$scope != 'printer'">
              <xsl:variable name="groups">
                <xsl:call-template name="name-groups">
                  <xsl:with-param name="names" select="set:distinct($events/printer)"/>
                  <xsl:with-param name="key" select="'printer-minute'"/>
                </xsl:call-template>
              </xsl:variable>
              <xsl:call-template name="breakdown">
                <xsl:with-param name="title" select="'By printer'"/>
                <xsl:with-param name="id" select="'by-printer'"/>
                <xsl:with-param name="label" select="'Printer'"/>
                <xsl:with-param name="groups" select="exsl:node-set($groups)/g"/>
              </xsl:call-template>
            </xsl:if>
            <!-- A day's report needs no breakdown per day: its period reads mm/dd/yyyy. -->
            <xsl:if test="translate($period, '0123456789', '') != '//'">
              <!-- Every date of the years that occur; dates without jobs
                   find nothing and are left out. -->
              <xsl:variable name="dates-tree">
                <xsl:for-each select="set:distinct($events/year)">
                  <xsl:sort select="." data-type="number"/>
                  <xsl:variable name="y" select="string(.)"/>
                  <xsl:for-each select="$two-digits[position() &lt;= 12]">
                    <xsl:variable name="m" select="string(.)"/>
                    <xsl:for-each select="$two-digits[position() &lt;= 31]">
                      <date v="{concat($y, $m, .)}" label="{concat($m, '/', ., '/', $y)}"/>
                    </xsl:for-each>
                  </xsl:for-each>
                </xsl:for-each>
              </xsl:variable>
              <xsl:variable name="dates" select="exsl:node-set($dates-tree)/date"/>

              <xsl:variable name="groups">
                <xsl:call-template name="day-groups">
                  <xsl:with-param name="dates" select="$dates"/>
                </xsl:call-template>
              </xsl:variable>
              <xsl:call-template name="breakdown">
                <xsl:with-param name="title" select="'By day'"/>
                <xsl:with-param name="id" select="'by-day'"/>
                <xsl:with-param name="label" select="'Day'"/>
                <xsl:with-param name="groups" select="exsl:node-set($groups)/g"/>
                <xsl:with-param name="by-cost" select="false()"/>
              </xsl:call-template>
            </xsl:if>
            <xsl:call-template name="jobs">
              <xsl:with-param name="events" select="$events"/>
            </xsl:call-template>
          </xsl:otherwise>
        </xsl:choose>
      </body>
    </html>
  </xsl:template>

  <!-- One <g> per name with the jobs, pages and cost of its events, summed
       over its groups of each minute (the key names name and minute). -->
  <xsl:template name="name-groups">
    <xsl:param name="names"/>
    <xsl:param name="key"/>
    <xsl:for-each select="$names">
      <xsl:variable name="name" select="string(.)"/>
      <xsl:variable name="log-node" select="."/>
      <xsl:variable name="cells">
        <xsl:for-each select="$minutes">
          <xsl:variable name="minute" select="string(.)"/>
          <!-- Back in the log: key() looks in the current node's document. -->
          <xsl:for-each select="$log-node">
            <xsl:variable name="jobs" select="key($key, concat($minute, '|', $name))"/>
            <xsl:if test="$jobs">
              <c j="{count($jobs)}" p="{sum($jobs/pages)}" c="{sum($jobs/cost)}"/>
            </xsl:if>
          </xsl:for-each>
        </xsl:for-each>
      </xsl:variable>
      <xsl:variable name="c" select="exsl:node-set($cells)/c"/>
      <g n="{$name}" j="{sum($c/@j)}" p="{sum($c/@p)}" c="{sum($c/@c)}"/>
    </xsl:for-each>
  </xsl:template>

  <!-- One <g> per date that has jobs, in date order. -->
  <xsl:template name="day-groups">
    <xsl:param name="dates"/>
    <xsl:variable name="log-node" select="/log"/>
    <xsl:for-each select="$dates">
      <xsl:variable name="date" select="string(@v)"/>
      <xsl:variable name="label" select="string(@label)"/>
      <xsl:for-each select="$log-node">
        <xsl:variable name="jobs" select="key('day', $date)"/>
        <xsl:if test="$jobs">
          <g n="{$label}" j="{count($jobs)}" p="{sum($jobs/pages)}" c="{sum($jobs/cost)}"/>
        </xsl:if>
      </xsl:for-each>
    </xsl:for-each>
  </xsl:template>

  <!-- A table of groups, highest cost first (or in their own order), each
       with a bar for its pages. -->
  <xsl:template name="breakdown">
    <xsl:param name="title"/>
    <xsl:param name="id"/>
    <xsl:param name="label"/>
    <xsl:param name="groups"/>
    <xsl:param name="by-cost" select="true()"/>
    <xsl:variable name="max-pages">
      <xsl:for-each select="$groups">
        <xsl:sort select="@p" data-type="number" order="descending"/>
        <xsl:if test="position() = 1"><xsl:value-of select="@p"/></xsl:if>
      </xsl:for-each>
    </xsl:variable>
    <section>
      <h2><xsl:value-of select="$title"/></h2>
      <table id="{$id}">
        <colgroup><col class="name"/><col class="barcol"/><col class="figure"/><col class="figure"/><col class="figure"/></colgroup>
        <thead><tr>
          <th><xsl:value-of select="$label"/></th><th class="barcell"></th>
          <th class="num">Jobs</th><th class="num">Pages</th><th class="num">Cost</th>
        </tr></thead>
        <tbody>
          <xsl:choose>
            <xsl:when test="$by-cost">
              <xsl:for-each select="$groups">
                <xsl:sort select="@c" data-type="number" order="descending"/>
                <xsl:sort select="@n"/>
                <xsl:call-template name="group-row">
                  <xsl:with-param name="max-pages" select="number($max-pages)"/>
                </xsl:call-template>
              </xsl:for-each>
            </xsl:when>
            <xsl:otherwise>
              <xsl:for-each select="$groups">
                <xsl:call-template name="group-row">
                  <xsl:with-param name="max-pages" select="number($max-pages)"/>
                </xsl:call-template>
              </xsl:for-each>
            </xsl:otherwise>
          </xsl:choose>
        </tbody>
      </table>
    </section>
  </xsl:template>

  <xsl:template name="group-row">
    <xsl:param name="max-pages"/>
    <tr>
      <td class="name" title="{@n}"><xsl:choose>
        <xsl:when test="string(@n)"><xsl:value-of select="@n"/></xsl:when>
        <xsl:otherwise>(none)</xsl:otherwise>
      </xsl:choose></td>
      <td class="barcell"><xsl:call-template name="bar">
        <xsl:with-param name="value" select="number(@p)"/>
        <xsl:with-param name="max" select="$max-pages"/>
      </xsl:call-template></td>
      <td class="num"><xsl:value-of select="@j"/></td>
      <td class="num"><xsl:value-of select="@p"/></td>
      <td class="num"><xsl:call-template name="money">
        <xsl:with-param name="cents" select="number(@c)"/></xsl:call-template></td>
    </tr>
  </xsl:template>

  <xsl:template name="bar">
    <xsl:param name="value"/>
    <xsl:param name="max"/>
    <xsl:variable name="share">
      <xsl:choose>
        <xsl:when test="$max &gt; 0"><xsl:value-of select="format-number(100 * $value div $max, '0.#')"/></xsl:when>
        <xsl:otherwise>0</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <div class="bar" style="width: {$share}%"></div>
  </xsl:template>

  <!-- The newest jobs first, in blocks the browser may skip laying out. -->
  <xsl:template name="jobs">
    <xsl:param name="events"/>
    <xsl:variable name="total" select="count($events)"/>
    <xsl:variable name="shown" select="$events[position() &gt; $total - $max-jobs]"/>
    <section class="jobs" id="jobs">
      <h2>Jobs</h2>
      <div class="row head"><span>Date</span><span>Time</span><span>Document</span>
        <span class="num">Pages</span><span class="num">Cost</span><span>Printer</span><span>User</span></div>
      <xsl:call-template name="job-blocks">
        <xsl:with-param name="shown" select="$shown"/>
        <xsl:with-param name="high" select="count($shown)"/>
      </xsl:call-template>
      <xsl:if test="$total &gt; count($shown)">
        <p class="more" id="more-jobs">This period has <xsl:value-of select="$total"/> jobs; the newest
          <xsl:value-of select="count($shown)"/> are listed. Save as CSV gives them all.</p>
      </xsl:if>
    </section>
  </xsl:template>

  <xsl:template name="job-blocks">
    <xsl:param name="shown"/>
    <xsl:param name="high"/>
    <xsl:if test="$high &gt; 0">
      <div class="block">
        <xsl:for-each select="$shown[position() &lt;= $high and position() &gt; $high - $block-rows]">
          <xsl:sort select="position()" data-type="number" order="descending"/>
          <div class="row">
            <span><xsl:value-of select="concat(month, '/', day, '/', year)"/></span>
            <span><xsl:value-of select="concat(hour, ':', min)"/></span>
            <span title="{doc}"><xsl:value-of select="doc"/></span>
            <span class="num"><xsl:value-of select="pages"/></span>
            <span class="num"><xsl:call-template name="money">
              <xsl:with-param name="cents" select="cost"/></xsl:call-template></span>
            <span title="{printer}"><xsl:value-of select="printer"/></span>
            <span title="{user}"><xsl:value-of select="user"/></span>
          </div>
        </xsl:for-each>
      </div>
      <xsl:call-template name="job-blocks">
        <xsl:with-param name="shown" select="$shown"/>
        <xsl:with-param name="high" select="$high - $block-rows"/>
      </xsl:call-template>
    </xsl:if>
  </xsl:template>

</xsl:stylesheet>
